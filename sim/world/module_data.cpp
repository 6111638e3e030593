// The module's writable data, renewed at each load: see module_data.h.
#include "world/module_data.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The bounds module_data.ld sets; weak, so that a program linked without it has none (null).
extern "C" {
extern unsigned char __rovane_module_data_begin[] __attribute__((weak));
extern unsigned char __rovane_module_data_end[] __attribute__((weak));
}

namespace sim {

namespace {

unsigned char* g_pristine = nullptr;  // the module's data as the program started with it

// A plain byte copy the sanitizers do not watch: in an address-sanitized build the region holds
// the guard zones between the module's variables, which are never the module's to touch but are
// copied along with it here (volatile: no call to memcpy, which the sanitizer checks).
__attribute__((no_sanitize("address", "thread", "undefined")))
void copy_bytes(unsigned char* to, const unsigned char* from, size_t n) {
    volatile unsigned char* out = to;
    const volatile unsigned char* in = from;
    for (size_t i = 0; i < n; ++i) out[i] = in[i];
}

}  // namespace

bool module_data_renewable() {
    const auto begin = reinterpret_cast<uintptr_t>(__rovane_module_data_begin);
    return begin != 0 && reinterpret_cast<uintptr_t>(__rovane_module_data_end) > begin;
}

void renew_module_data() {
    if (!module_data_renewable()) return;
    const size_t size = static_cast<size_t>(__rovane_module_data_end - __rovane_module_data_begin);
    if (!g_pristine) {
        g_pristine = static_cast<unsigned char*>(std::malloc(size));
        if (!g_pristine) std::abort();
        copy_bytes(g_pristine, __rovane_module_data_begin, size);
        return;
    }
    copy_bytes(__rovane_module_data_begin, g_pristine, size);
}

}  // namespace sim
