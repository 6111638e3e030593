// Fibers: the execution contexts of simulated threads (ucontext, with the annotations that
// AddressSanitizer and ThreadSanitizer need to follow a stack switch).
#pragma once

#include <cstddef>

namespace sim {

struct Fiber;

// The fiber of the OS thread that runs the scheduler (no stack of its own).
Fiber* fiber_for_current_os_thread();
// A new fiber that will run entry() on a stack of `stack_size` bytes when first switched to.
Fiber* fiber_create(void (*entry)(), size_t stack_size);
// Switches from `from` (the running fiber) to `to`.
void fiber_switch(Fiber* from, Fiber* to);
// Releases a fiber that is not running (its stack is unmapped; nothing on it is destroyed).
void fiber_destroy(Fiber* f);

}  // namespace sim
