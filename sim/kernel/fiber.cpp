#include "kernel/fiber.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SIM_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define SIM_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SIM_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define SIM_TSAN 1
#endif

#ifdef SIM_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif
#ifdef SIM_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace sim {

struct Fiber {
    ucontext_t context;
    void* stack = nullptr;     // mapping including the guard page
    size_t mapped = 0;
    size_t stack_size = 0;
    void* stack_bottom = nullptr;  // usable stack start
#ifdef SIM_ASAN
    void* fake_stack = nullptr;
#endif
#ifdef SIM_TSAN
    void* tsan_fiber = nullptr;
    bool owns_tsan_fiber = false;
#endif
};

Fiber* fiber_for_current_os_thread() {
    Fiber* f = new Fiber();
#ifdef SIM_TSAN
    f->tsan_fiber = __tsan_get_current_fiber();
#endif
    return f;
}

Fiber* fiber_create(void (*entry)(), size_t stack_size) {
    Fiber* f = new Fiber();
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    stack_size = (stack_size + page - 1) / page * page;
    f->mapped = stack_size + page;
    f->stack = mmap(nullptr, f->mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (f->stack == MAP_FAILED) {
        std::perror("simulated thread stack");
        std::abort();
    }
    mprotect(f->stack, page, PROT_NONE);  // guard page below the stack
    f->stack_bottom = static_cast<char*>(f->stack) + page;
    f->stack_size = stack_size;
    getcontext(&f->context);
    f->context.uc_stack.ss_sp = f->stack_bottom;
    f->context.uc_stack.ss_size = stack_size;
    f->context.uc_link = nullptr;
    makecontext(&f->context, entry, 0);
#ifdef SIM_TSAN
    f->tsan_fiber = __tsan_create_fiber(0);
    f->owns_tsan_fiber = true;
#endif
    return f;
}

void fiber_switch(Fiber* from, Fiber* to) {
#ifdef SIM_ASAN
    __sanitizer_start_switch_fiber(&from->fake_stack, to->stack_bottom, to->stack_size);
#endif
#ifdef SIM_TSAN
    __tsan_switch_to_fiber(to->tsan_fiber, 0);
#endif
    swapcontext(&from->context, &to->context);
#ifdef SIM_ASAN
    __sanitizer_finish_switch_fiber(from->fake_stack, nullptr, nullptr);
#endif
}

void fiber_destroy(Fiber* f) {
    if (!f) return;
#ifdef SIM_TSAN
    if (f->owns_tsan_fiber) __tsan_destroy_fiber(f->tsan_fiber);
#endif
    if (f->stack) munmap(f->stack, f->mapped);
    delete f;
}

}  // namespace sim
