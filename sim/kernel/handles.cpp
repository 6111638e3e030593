#include "kernel/handles.h"

namespace sim {

void* HandleTable::add(std::shared_ptr<KernelObject> object) {
    const uintptr_t value = next_;
    next_ += 4;
    table_[value] = std::move(object);
    return reinterpret_cast<void*>(value);
}

std::shared_ptr<KernelObject> HandleTable::find(void* handle) const {
    const std::shared_ptr<KernelObject>* object = slot(handle);
    return object ? *object : nullptr;
}

const std::shared_ptr<KernelObject>* HandleTable::look_up(uintptr_t value) const {
    auto it = table_.find(value);
    if (it == table_.end()) return nullptr;
    last_value_ = value;
    last_object_ = &it->second;
    return last_object_;
}

bool HandleTable::close(void* handle) {
    auto it = table_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table_.end()) return false;
    if (!it->second->on_close()) return false;
    last_object_ = nullptr;
    if (it->second->calls_inside > 0) lingering_.push_back(std::move(it->second));
    table_.erase(it);
    return true;
}

void HandleTable::let_go(KernelObject* object) {
    for (auto it = lingering_.begin(); it != lingering_.end(); ++it)
        if (it->get() == object) {
            lingering_.erase(it);  // may destroy it: nothing of it is used after this
            return;
        }
}

size_t HandleTable::open_count(const std::string& type) const {
    size_t n = 0;
    for (const auto& [value, object] : table_)
        if (type == object->type_name()) ++n;
    return n;
}

}  // namespace sim
