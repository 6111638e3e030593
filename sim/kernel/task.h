// A timed event's function: a move-only callable that keeps a small capture inside itself.
//
// A job schedules an event for every serial byte, every timed wake-up and every device step:
// hundreds of thousands of them. std::function allocates for any capture over 16 bytes (a
// lambda holding a pointer, an id and a serial number already is), so the kernel keeps its
// events in Tasks: up to kInline bytes of capture live in the Task, a larger one on the heap.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace sim {

class Task {
public:
    static constexpr size_t kInline = 48;

    Task() = default;
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Task>>>
    Task(F&& fn) {  // NOLINT: implicit, as a std::function is made from a lambda
        using Fn = std::decay_t<F>;
        if constexpr (sizeof(Fn) <= kInline && alignof(Fn) <= alignof(std::max_align_t) &&
                      std::is_nothrow_move_constructible_v<Fn>) {
            new (storage_) Fn(std::forward<F>(fn));
            ops_ = &kInlineOps<Fn>;
        } else {
            *reinterpret_cast<Fn**>(storage_) = new Fn(std::forward<F>(fn));
            ops_ = &kHeapOps<Fn>;
        }
    }
    Task(Task&& other) noexcept { take(other); }
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            take(other);
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    explicit operator bool() const { return ops_ != nullptr; }
    void operator()() { ops_->call(storage_); }
    void reset() {
        if (ops_) ops_->destroy(storage_);
        ops_ = nullptr;
    }

private:
    struct Ops {
        void (*call)(void* storage);
        void (*relocate)(void* to, void* from);  // move-constructs at `to` and destroys `from`
        void (*destroy)(void* storage);
    };
    template <class Fn>
    static constexpr Ops kInlineOps = {
        [](void* s) { (*static_cast<Fn*>(s))(); },
        [](void* to, void* from) {
            new (to) Fn(std::move(*static_cast<Fn*>(from)));
            static_cast<Fn*>(from)->~Fn();
        },
        [](void* s) { static_cast<Fn*>(s)->~Fn(); },
    };
    template <class Fn>
    static constexpr Ops kHeapOps = {
        [](void* s) { (**static_cast<Fn**>(s))(); },
        [](void* to, void* from) { *static_cast<Fn**>(to) = *static_cast<Fn**>(from); },
        [](void* s) { delete *static_cast<Fn**>(s); },
    };

    void take(Task& other) {
        ops_ = other.ops_;
        if (ops_) ops_->relocate(storage_, other.storage_);
        other.ops_ = nullptr;
    }

    alignas(std::max_align_t) unsigned char storage_[kInline];
    const Ops* ops_ = nullptr;
};

}  // namespace sim
