// The kernel's timed events in the order they run: earliest time first, and among events at the
// same time the one scheduled first (its sequence number). Every entry's (when, seq) is unique,
// so the order is total and the queue's inner shape never shows.
//
// A four-way heap: half the depth of a binary one, and a node's children share a cache line. A
// job pushes and pops a few hundred thousand events, each of which the queue orders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct QueuedEvent {
    uint64_t when;  // virtual time, microseconds
    uint64_t seq;   // its place among events at the same time
    uint32_t slot;  // where the kernel keeps its function
};

class EventQueue {
public:
    bool empty() const { return heap_.empty(); }
    size_t size() const { return heap_.size(); }
    const QueuedEvent& top() const { return heap_.front(); }

    void push(const QueuedEvent& e) {
        size_t i = heap_.size();
        heap_.push_back(e);
        while (i > 0) {
            const size_t parent = (i - 1) / kWays;
            if (!before(e, heap_[parent])) break;
            heap_[i] = heap_[parent];
            i = parent;
        }
        heap_[i] = e;
    }

    void pop() {
        const QueuedEvent last = heap_.back();
        heap_.pop_back();
        const size_t n = heap_.size();
        if (n == 0) return;
        size_t i = 0;
        for (;;) {
            const size_t first = i * kWays + 1;
            if (first >= n) break;
            size_t best = first;
            const size_t end = first + kWays < n ? first + kWays : n;
            for (size_t c = first + 1; c < end; ++c)
                if (before(heap_[c], heap_[best])) best = c;
            if (!before(heap_[best], last)) break;
            heap_[i] = heap_[best];
            i = best;
        }
        heap_[i] = last;
    }

private:
    static constexpr size_t kWays = 4;
    static bool before(const QueuedEvent& a, const QueuedEvent& b) {
        return a.when != b.when ? a.when < b.when : a.seq < b.seq;
    }
    std::vector<QueuedEvent> heap_;
};

}  // namespace sim
