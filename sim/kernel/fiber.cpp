#include "kernel/fiber.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
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

#if defined(__x86_64__) && !defined(SIM_USE_UCONTEXT)
#define SIM_ASM_SWITCH 1
#endif

#ifdef SIM_ASM_SWITCH
// A context switch of our own: swapcontext also saves and restores the signal mask, a system
// call on every switch, which costs more than everything else the scheduler does. Only what the
// System V ABI asks a callee to preserve is saved: rbx, rbp, r12-r15, the stack pointer, and the
// SSE and x87 control words.
extern "C" void sim_fiber_switch_stack(void** save_sp, void* load_sp);
asm(R"(
    .text
    .globl sim_fiber_switch_stack
    .type sim_fiber_switch_stack,@function
sim_fiber_switch_stack:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size sim_fiber_switch_stack,.-sim_fiber_switch_stack
    .section .note.GNU-stack,"",@progbits
    .text
)");
#endif

struct Fiber {
#ifdef SIM_ASM_SWITCH
    void* sp = nullptr;
    void (*entry)() = nullptr;
#else
    ucontext_t context;
#endif
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

#ifdef SIM_ASM_SWITCH
namespace {
Fiber* g_starting = nullptr;  // the fiber being switched to, read by a fresh fiber's trampoline

void fiber_trampoline() {
#ifdef SIM_ASAN
    __sanitizer_finish_switch_fiber(nullptr, nullptr, nullptr);
#endif
    g_starting->entry();
    std::abort();  // a fiber's entry never returns
}
}  // namespace
#endif

namespace {
// Stacks of fibers that ended, kept for the next ones. A job starts and ends threads all along;
// a fresh mapping is faulted in page by page as the thread's calls go deeper, which costs more
// than the rest of a short thread's life. Not under the sanitizers, which keep their own account
// of a stack's memory.
#if !defined(SIM_ASAN) && !defined(SIM_TSAN)
constexpr size_t kKeptStacks = 16;
struct KeptStack {
    void* mapping;
    size_t size;
};
KeptStack g_kept[kKeptStacks];
size_t g_kept_count = 0;
#endif

void* map_stack(size_t mapped, size_t page) {
#if !defined(SIM_ASAN) && !defined(SIM_TSAN)
    for (size_t i = g_kept_count; i-- > 0;)
        if (g_kept[i].size == mapped) {
            void* mapping = g_kept[i].mapping;
            g_kept[i] = g_kept[--g_kept_count];
            return mapping;
        }
#endif
    void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED) {
        std::perror("simulated thread stack");
        std::abort();
    }
    mprotect(mapping, page, PROT_NONE);  // guard page below the stack
    return mapping;
}

void unmap_stack(void* mapping, size_t mapped) {
#if !defined(SIM_ASAN) && !defined(SIM_TSAN)
    if (g_kept_count < kKeptStacks) {
        g_kept[g_kept_count++] = {mapping, mapped};
        return;
    }
#endif
    munmap(mapping, mapped);
}
}  // namespace

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
    f->stack = map_stack(f->mapped, page);
    f->stack_bottom = static_cast<char*>(f->stack) + page;
    f->stack_size = stack_size;
#ifdef SIM_ASM_SWITCH
    f->entry = entry;
    auto* sp = reinterpret_cast<uintptr_t*>(static_cast<char*>(f->stack_bottom) + stack_size);
    *--sp = 0;                                             // the trampoline's return address: none
    *--sp = reinterpret_cast<uintptr_t>(&fiber_trampoline);  // where the first switch "returns"
    for (int i = 0; i < 6; ++i) *--sp = 0;                 // rbp, rbx, r12-r15
    *--sp = (uintptr_t{0x037F} << 32) | 0x1F80;            // default x87 and SSE control words
    f->sp = sp;
#else
    getcontext(&f->context);
    f->context.uc_stack.ss_sp = f->stack_bottom;
    f->context.uc_stack.ss_size = stack_size;
    f->context.uc_link = nullptr;
    makecontext(&f->context, entry, 0);
#endif
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
#ifdef SIM_ASM_SWITCH
    g_starting = to;
    sim_fiber_switch_stack(&from->sp, to->sp);
#else
    swapcontext(&from->context, &to->context);
#endif
#ifdef SIM_ASAN
    __sanitizer_finish_switch_fiber(from->fake_stack, nullptr, nullptr);
#endif
}

void fiber_destroy(Fiber* f) {
    if (!f) return;
#ifdef SIM_TSAN
    if (f->owns_tsan_fiber) __tsan_destroy_fiber(f->tsan_fiber);
#endif
    if (f->stack) unmap_stack(f->stack, f->mapped);
    delete f;
}

}  // namespace sim
