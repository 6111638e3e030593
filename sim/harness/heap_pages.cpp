// The heap grown in large, huge-page-backed steps: see heap_pages.h.
#include "harness/heap_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace sim {

namespace {
constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
constexpr int kTopPad = 64 << 20;  // what the heap grows by at a time, beyond what is asked
bool g_done = false;
}  // namespace

void use_huge_heap_pages() {
    if (g_done) return;
    g_done = true;
    // Large blocks from the heap too (not mmap'd and unmapped one by one), and the heap never
    // handed back while the process runs.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 2 * kTopPad);
    mallopt(M_TOP_PAD, kTopPad);
    // One block larger than what is free makes the heap grow now, by the pad; the whole of what
    // lies past the next 2 MB boundary is then marked.
    void* block = std::malloc(4 << 20);
    if (!block) return;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0)) & ~(kHugePage - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    std::free(block);
}

}  // namespace sim
