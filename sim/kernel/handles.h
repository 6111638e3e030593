// Kernel objects behind Win32 handles: files, serial ports, threads, printers, registry keys,
// libraries. One table for the whole world, as on Windows where one process has one table.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct KernelObject {
    virtual ~KernelObject() = default;
    virtual const char* type_name() const = 0;
    // Called once when the last handle to the object is closed; returns false when closing
    // fails (the handle then stays valid).
    virtual bool on_close() { return true; }
    // This object as a stream, or nullptr: ReadFile and WriteFile ask on every call, and a
    // dynamic_cast each time would cost more than many a read.
    virtual struct StreamObject* as_stream() { return nullptr; }

    int calls_inside = 0;  // ReadFile/WriteFile calls in it now (see HandleTable::stream)
};

// An object that ReadFile and WriteFile reach (files, serial ports, volumes). Each call runs on
// the calling simulated thread and may block it. Results: 0 on success, else a Win32 error code
// (which the caller hands to SetLastError); *done is set in both cases.
struct StreamObject : KernelObject {
    StreamObject* as_stream() override { return this; }
    virtual uint32_t read(void* buffer, uint32_t n, uint32_t* done) = 0;
    virtual uint32_t write(const void* buffer, uint32_t n, uint32_t* done) = 0;
};

class HandleTable {
public:
    // Hands out a new handle value (multiples of 4 from 0x100, never reused, never
    // INVALID_HANDLE_VALUE or NULL).
    void* add(std::shared_ptr<KernelObject> object);
    std::shared_ptr<KernelObject> find(void* handle) const;
    template <class T>
    std::shared_ptr<T> get(void* handle) const {
        const std::shared_ptr<KernelObject>* object = slot(handle);
        return object ? std::dynamic_pointer_cast<T>(*object) : nullptr;
    }
    // The stream behind a handle, or nullptr, for ReadFile and WriteFile, without a reference
    // count's traffic on every call of a polling loop: the call brackets its work with enter()
    // and leave(), and an object whose handle is closed while a call is in it (another thread
    // closes the port a read waits on) stays until the last such call has left.
    StreamObject* stream(void* handle) const {
        const std::shared_ptr<KernelObject>* object = slot(handle);
        return object ? (*object)->as_stream() : nullptr;
    }
    static void enter(KernelObject* object) { ++object->calls_inside; }
    void leave(KernelObject* object) {
        if (--object->calls_inside == 0 && !lingering_.empty()) let_go(object);
    }
    // Closes a handle: false when it is not a valid handle or the object refused to close.
    bool close(void* handle);
    size_t open_count() const { return table_.size(); }
    // Objects of a type that are still open (for leak checks in tests).
    size_t open_count(const std::string& type) const;

private:
    const std::shared_ptr<KernelObject>* slot(void* handle) const {
        const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
        return last_object_ && value == last_value_ ? last_object_ : look_up(value);
    }
    const std::shared_ptr<KernelObject>* look_up(uintptr_t value) const;
    void let_go(KernelObject* object);

    // Objects whose handle was closed while a call was in them, kept until it leaves.
    std::vector<std::shared_ptr<KernelObject>> lingering_;

    std::map<uintptr_t, std::shared_ptr<KernelObject>> table_;
    // The handle looked up last and its object: a polling loop asks for the same one again and
    // again. Forgotten when a handle is closed (map entries stay put while others are added).
    mutable uintptr_t last_value_ = 0;
    mutable const std::shared_ptr<KernelObject>* last_object_ = nullptr;
    uintptr_t next_ = 0x100;
};

}  // namespace sim
