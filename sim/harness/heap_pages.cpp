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
constexpr uintptr_t kSmallPage = 4096;
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
    // The heap's end moved to one page short of the next 2 MB boundary (the pages skipped are
    // never touched; the allocator takes the jump for another's sbrk and goes on from there): the
    // allocator's own header goes in that page, and all it grows by from the boundary on can be
    // huge pages.
    const uintptr_t brk_now = reinterpret_cast<uintptr_t>(sbrk(0));
    const uintptr_t brk_wanted = ((brk_now + kSmallPage + kHugePage - 1) & ~(kHugePage - 1)) - kSmallPage;
    if (brk_wanted > brk_now) sbrk(static_cast<intptr_t>(brk_wanted - brk_now));
    // One block larger than what is free makes the heap grow now, by the pad; all of it from
    // the boundary on is then marked.
    void* block = std::malloc(4 << 20);
    if (!block) return;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0)) & ~(kHugePage - 1);
    if (end <= start) {
        std::free(block);
        return;
    }
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    // Freed, the block joins the free top of the heap, whose header is below `start`. The page
    // the allocator wrote at the block's end before the marking is handed back, so that no small
    // page stands in the way of a huge one there.
    std::free(block);
    madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

}  // namespace sim
