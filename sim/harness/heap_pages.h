// The heap of a process that runs long simulated jobs: grown in large steps and backed by huge
// pages where the system offers them on request (transparent huge pages in "madvise" mode).
//
// A 100-disc job touches about 3 MB of heap within its first simulated minutes; in 4 KB pages
// that is some 800 page faults, each costing several microseconds on a virtual machine, more than
// a tenth of the job's wall time. With the heap's top padded by 64 MB and marked for huge pages
// from a 2 MB boundary on, nearly all of it comes in 2 MB pages, a fault each (82 faults in all
// for the 100-disc job instead of 970). Nothing the world does depends on it: where huge pages
// are not offered the marking is refused and the heap simply grows as before.
#pragma once

namespace sim {

// Call once, early in main(), before the world is built. Safe to call again (no effect).
void use_huge_heap_pages();

}  // namespace sim
