// The world's registry and the Win32 calls that read it.
#include "win32/registry.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel/text.h"
#include "world/world.h"

namespace sim {

namespace {

constexpr LSTATUS kErrorKeyDeleted = 1018;  // ERROR_KEY_DELETED

// Splits a key path into names. A trailing backslash is tolerated; an empty name anywhere else
// makes the path invalid (false).
bool split(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    if (path.empty()) return true;
    std::string p = path;
    if (p.back() == '\\') p.pop_back();
    std::string part;
    for (size_t i = 0; i <= p.size(); ++i) {
        if (i == p.size() || p[i] == '\\') {
            if (part.empty()) return false;
            names->push_back(part);
            part.clear();
        } else {
            part += p[i];
        }
    }
    return true;
}

// A removed key keeps the full path it had as its name and forgets its parent: the parent may be
// freed while a handle still holds the key.
void mark_deleted(Registry::Key* key, const std::string& path) {
    key->deleted = true;
    for (auto& [name, sub] : key->subkeys) mark_deleted(sub.get(), path + "\\" + sub->name);
    key->name = path;
    key->parent = nullptr;
}

const char* type_text(DWORD type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_?";
    }
}

}  // namespace

// The object behind a key handle.
struct KeyObject : KernelObject {
    std::shared_ptr<Registry::Key> key;
    const char* type_name() const override { return "key"; }
};

Registry::Registry(World& world) : world_(world) {
    local_machine_ = std::make_shared<Key>();
    local_machine_->name = "HKLM";
    current_user_ = std::make_shared<Key>();
    current_user_->name = "HKCU";
    classes_root_ = std::make_shared<Key>();
    classes_root_->name = "HKCR";
    users_ = std::make_shared<Key>();
    users_->name = "HKU";
}

Registry::~Registry() = default;

std::shared_ptr<Registry::Key> Registry::hive_root(HKEY hive) const {
    if (hive == HKEY_LOCAL_MACHINE) return local_machine_;
    if (hive == HKEY_CURRENT_USER) return current_user_;
    if (hive == HKEY_CLASSES_ROOT) return classes_root_;
    if (hive == HKEY_USERS) return users_;
    return nullptr;
}

std::shared_ptr<Registry::Key> Registry::find(const std::shared_ptr<Key>& base, const std::string& path) {
    std::vector<std::string> names;
    if (!base || !split(path, &names)) return nullptr;
    std::shared_ptr<Key> cur = base;
    for (const std::string& n : names) {
        auto it = cur->subkeys.find(lower(n));
        if (it == cur->subkeys.end()) return nullptr;
        cur = it->second;
    }
    return cur;
}

std::string Registry::key_path(const Key* key) {
    if (!key->parent) return key->name;
    return key_path(key->parent) + "\\" + key->name;
}

std::shared_ptr<Registry::Key> Registry::make(HKEY hive, const std::string& path) {
    std::shared_ptr<Key> cur = hive_root(hive);
    if (!cur) return nullptr;
    std::vector<std::string> names;
    if (!split(path, &names)) return nullptr;
    for (const std::string& n : names) {
        auto& slot = cur->subkeys[lower(n)];
        if (!slot) {
            slot = std::make_shared<Key>();
            slot->name = n;
            slot->parent = cur.get();
        }
        cur = slot;
    }
    return cur;
}

void Registry::set_value(HKEY hive, const std::string& key, const std::string& name, DWORD type, const std::string& bytes) {
    std::shared_ptr<Key> k = make(hive, key);
    if (!k) return;
    Value& v = k->values[lower(name)];
    v.type = type;
    v.name = name;
    v.data = bytes;
}

void Registry::set_string(HKEY hive, const std::string& key, const std::string& name, const std::string& value) {
    set_value(hive, key, name, REG_SZ, value + std::string(1, '\0'));
}

void Registry::set_dword(HKEY hive, const std::string& key, const std::string& name, DWORD value) {
    std::string bytes(4, '\0');
    std::memcpy(&bytes[0], &value, 4);  // little-endian, as on Windows
    set_value(hive, key, name, REG_DWORD, bytes);
}

void Registry::set_binary(HKEY hive, const std::string& key, const std::string& name, const std::string& bytes) {
    set_value(hive, key, name, REG_BINARY, bytes);
}

bool Registry::remove_key(HKEY hive, const std::string& key) {
    std::shared_ptr<Key> k = find(hive_root(hive), key);
    if (!k || !k->parent) return false;  // a hive itself cannot be removed
    Key* parent = k->parent;
    const std::string leaf = lower(k->name);
    mark_deleted(k.get(), key_path(k.get()));
    parent->subkeys.erase(leaf);
    return true;
}

bool Registry::remove_value(HKEY hive, const std::string& key, const std::string& name) {
    std::shared_ptr<Key> k = find(hive_root(hive), key);
    return k && k->values.erase(lower(name)) > 0;
}

bool Registry::has_key(HKEY hive, const std::string& key) const { return find(hive_root(hive), key) != nullptr; }

const Registry::Value* Registry::value(HKEY hive, const std::string& key, const std::string& name) const {
    std::shared_ptr<Key> k = find(hive_root(hive), key);
    if (!k) return nullptr;
    auto it = k->values.find(lower(name));
    return it == k->values.end() ? nullptr : &it->second;
}

}  // namespace sim

// ---------------------------------------------------------------------------------------------
// Win32 calls

namespace {

// The key a handle stands for: a predefined hive or an open key handle.
std::shared_ptr<sim::Registry::Key> key_of(HKEY h) {
    if (auto root = sim::world().registry().hive_root(h)) return root;
    if (auto obj = sim::world().handles().get<sim::KeyObject>(h)) return obj->key;
    return nullptr;
}

}  // namespace

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    sim::enter_call("RegOpenKeyExA");
    (void)ulOptions;
    (void)samDesired;  // no access control in the world's registry
    const std::string sub = lpSubKey ? lpSubKey : "";
    std::shared_ptr<sim::Registry::Key> base = key_of(hKey);
    const std::string where = "open " + (base ? sim::Registry::key_path(base.get()) : std::string("<invalid>")) +
                              (sub.empty() ? "" : "\\" + sub) + " -> ";
    LSTATUS result = ERROR_SUCCESS;
    std::shared_ptr<sim::Registry::Key> key;
    if (!phkResult) {
        result = ERROR_INVALID_PARAMETER;
    } else if (!base) {
        result = ERROR_INVALID_HANDLE;
    } else if (base->deleted) {
        result = sim::kErrorKeyDeleted;
    } else if (!sub.empty() && sub[0] == '\\') {
        // A sub-key name is relative to its key: one that starts at a root is a bad path.
        result = ERROR_BAD_PATHNAME;
    } else if (!(key = sim::Registry::find(base, sub))) {
        result = ERROR_FILE_NOT_FOUND;
    }
    if (result != ERROR_SUCCESS) {
        // A failed open leaves no handle behind: the result is NULL, not what was there.
        if (phkResult) *phkResult = NULL;
        sim::kernel().record("registry", where + "error " + std::to_string(result));
        return result;
    }
    auto obj = std::make_shared<sim::KeyObject>();
    obj->key = key;
    *phkResult = static_cast<HKEY>(sim::world().handles().add(obj));
    sim::kernel().record("registry", where + "ok");
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                           LPDWORD lpcbData) {
    sim::enter_call("RegQueryValueExA");
    const std::string name = lpValueName ? lpValueName : "";
    std::shared_ptr<sim::Registry::Key> key = key_of(hKey);
    const std::string where = "query " + (key ? sim::Registry::key_path(key.get()) : std::string("<invalid>")) + " " +
                              (name.empty() ? "(default)" : name) + " -> ";
    auto fail = [&](LSTATUS result) {
        sim::kernel().record("registry", where + "error " + std::to_string(result));
        return result;
    };
    if (!key) return fail(ERROR_INVALID_HANDLE);
    if (lpReserved || (lpData && !lpcbData)) return fail(ERROR_INVALID_PARAMETER);
    if (key->deleted) return fail(sim::kErrorKeyDeleted);
    auto it = key->values.find(sim::lower(name));
    if (it == key->values.end()) return fail(ERROR_FILE_NOT_FOUND);
    const sim::Registry::Value& v = it->second;
    const DWORD needed = static_cast<DWORD>(v.data.size());
    if (lpType) *lpType = v.type;
    if (lpData && *lpcbData < needed) {
        const DWORD offered = *lpcbData;
        *lpcbData = needed;
        sim::kernel().record("registry", where + "error " + std::to_string(ERROR_MORE_DATA) + " (" +
                                             std::to_string(needed) + " bytes needed, " + std::to_string(offered) +
                                             " offered)");
        return ERROR_MORE_DATA;
    }
    if (lpData) std::memcpy(lpData, v.data.data(), needed);
    if (lpcbData) *lpcbData = needed;
    sim::kernel().record("registry", where + sim::type_text(v.type) + " " + std::to_string(needed) + " bytes" +
                                         (lpData ? ": " + sim::Transcript::escape(v.data) : std::string(" (size only)")));
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    sim::enter_call("RegCloseKey");
    if (sim::world().registry().hive_root(hKey)) return ERROR_SUCCESS;  // predefined handles stay open
    if (!sim::world().handles().get<sim::KeyObject>(hKey) || !sim::world().handles().close(hKey))
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}
