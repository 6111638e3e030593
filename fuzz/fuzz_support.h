// What the fuzz programs share: a check that stops the run with a message (libFuzzer then keeps
// the input as a crash), and the simulated world for the parsers that read through Win32 calls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "world/world.h"

// Stops the run when a property of a parser's result does not hold.
#define FUZZ_CHECK(cond)                                                                          \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);         \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

namespace fuzz {

// 1 when the text has its terminator within the buffer's size bytes.
inline bool terminated_within(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

// The world the module's Win32 calls reach, made once per process with the module loaded. The
// module's log stays off (no module lock, no log path): a fuzz run writes no log lines. The
// transcript keeps only a few entries, so a long run does not grow it.
inline sim::World& world() {
    static sim::World* w = [] {
        sim::WorldConfig config;
        config.seed = 1;
        auto* created = new sim::World(config);
        created->kernel().transcript().set_retained(16);
        created->load_module();
        return created;
    }();
    return *w;
}

}  // namespace fuzz
