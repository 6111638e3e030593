// The world's registry: the hives HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT and
// HKEY_USERS with keys and typed values, read by the module through RegOpenKeyExA /
// RegQueryValueExA and set up by tests and tools through the world API below.
//
// Key and value names match case-insensitively and keep the case they were created with.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace sim {

class World;

class Registry {
public:
    struct Value {
        DWORD type = REG_NONE;
        std::string name;  // as created
        std::string data;  // the bytes RegQueryValueExA hands out (REG_SZ with its NUL)
    };
    struct Key {
        std::string name;  // as created
        Key* parent = nullptr;
        bool deleted = false;  // removed while a handle still held it
        std::map<std::string, std::shared_ptr<Key>> subkeys;  // by lower-case name
        std::map<std::string, Value> values;                  // by lower-case name
    };

    explicit Registry(World& world);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // --- world API: keys (and their parents) are created as needed ----------------------------
    // A string value is stored with its terminating NUL, as RegSetValueExA stores it.
    void set_string(HKEY hive, const std::string& key, const std::string& name, const std::string& value);
    void set_dword(HKEY hive, const std::string& key, const std::string& name, DWORD value);
    void set_binary(HKEY hive, const std::string& key, const std::string& name, const std::string& bytes);
    void set_value(HKEY hive, const std::string& key, const std::string& name, DWORD type, const std::string& bytes);
    // Removes a key with its sub-keys and values. False when it does not exist.
    bool remove_key(HKEY hive, const std::string& key);
    bool remove_value(HKEY hive, const std::string& key, const std::string& name);
    bool has_key(HKEY hive, const std::string& key) const;
    // The stored value, or nullptr.
    const Value* value(HKEY hive, const std::string& key, const std::string& name) const;

    // --- for the Win32 calls ------------------------------------------------------------------
    // The root key of a predefined hive handle, or nullptr when it is not one.
    std::shared_ptr<Key> hive_root(HKEY hive) const;
    // The key below `base` (a path of backslash-separated names; a trailing backslash is
    // tolerated), or nullptr.
    static std::shared_ptr<Key> find(const std::shared_ptr<Key>& base, const std::string& path);
    // "HKLM\Software\Marlune" for the transcript.
    static std::string key_path(const Key* key);

private:
    std::shared_ptr<Key> make(HKEY hive, const std::string& path);

    World& world_;
    std::shared_ptr<Key> local_machine_, current_user_, classes_root_, users_;
};

}  // namespace sim
