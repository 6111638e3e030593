// Components outside the module that the world provides: library images with exported functions
// (the host's recording engine libraries), in-process COM classes (the label application's
// automation server), storage devices opened as "\\.\X:" volumes, and the bookkeeping of the
// memory and string allocations the module makes through Win32.
//
// The functions behind library exports and COM methods are supplied by device models; this file
// only serves them through LoadLibraryA / GetProcAddress and CoCreateInstance.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class World;

// --- libraries --------------------------------------------------------------------------------
struct LibraryExport {
    std::string name;     // exported name ("" = exported by ordinal only); matched exactly
    WORD ordinal = 0;     // 0 = exported by name only
    void* function = nullptr;
};

// --- storage devices --------------------------------------------------------------------------
struct VolumeConfig {
    std::string vendor;                 // "" = the device reports no vendor id (offset 0)
    std::string product;                // "" = no product id (offset 0)
    std::string revision;               // "" = no revision (offset 0)
    std::optional<std::string> serial;  // absent = no serial number (offset 0)
    STORAGE_BUS_TYPE bus = BusTypeAtapi;
    BYTE device_type = 0x05;            // SCSI peripheral type: 5 = CD/DVD device
    bool removable = true;
};

// --- COM --------------------------------------------------------------------------------------
struct ComObject;

// What a COM caller holds: a pointer to this, whose first member points to the method table.
struct ComInterface {
    void** vtbl;
    ComObject* owner;
};

// A server object. Method 0 of its table is QueryInterface(self, REFIID, void**), 1 AddRef(self),
// 2 Release(self); the rest are set by the device model with set_method, as functions taking the
// interface pointer first. Calling a method that was never set records it in the transcript and
// returns E_NOTIMPL. The world owns every object (Release never frees one), so an interface
// pointer stays valid for the life of the world, as the module expects of a server it keeps.
struct ComObject {
    ComInterface iface = {nullptr, nullptr};
    std::vector<void*> methods;   // the table iface.vtbl points into
    std::vector<IID> interfaces;  // IIDs QueryInterface answers (IUnknown always)
    std::string name;             // for transcripts
    long refs = 1;
    void* context = nullptr;      // for the device model

    // The ComObject behind an interface pointer handed out by this world.
    static ComObject* from(void* self) { return static_cast<ComInterface*>(self)->owner; }
    void set_method(size_t index, void* fn);
    void* as_interface() { return &iface; }
};

// Returns an interface pointer for the IID, or nullptr (CoCreateInstance then fails with
// E_NOINTERFACE).
using ComFactory = std::function<void*(const IID& iid)>;

// Makes a GUID from its registry text form "{9B514DAB-39D5-48C5-BF74-93408763BD15}" (braces
// optional). Returns false on malformed text.
bool parse_guid(const std::string& text, GUID* out);
std::string guid_text(const GUID& g);
bool same_guid(const GUID& a, const GUID& b);
extern const IID kIID_IUnknown;

class Components {
public:
    explicit Components(World& world);
    ~Components();
    Components(const Components&) = delete;
    Components& operator=(const Components&) = delete;

    // --- libraries (world API) ------------------------------------------------------------------
    // Installs a library image ("KT.dll"): found by LoadLibraryA under that name matched
    // case-insensitively, with or without ".dll" and with any path prefix.
    void add_library(const std::string& name, const std::vector<LibraryExport>& exports);
    bool remove_library(const std::string& name);
    uint32_t load_count(const std::string& name) const;   // successful LoadLibraryA calls
    uint32_t loaded_refs(const std::string& name) const;  // loads not yet freed

    // --- storage devices (world API) ------------------------------------------------------------
    void add_volume(char drive_letter, const VolumeConfig& config);
    bool remove_volume(char drive_letter);
    // The next `count` storage queries of that volume fail with `error` (-1 = always, 0 = stop).
    void fail_query(char drive_letter, DWORD error, int count);
    uint32_t volume_opens(char drive_letter) const;
    // Used by CreateFileA for "\\.\X:". No volume: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND.
    HANDLE open_volume(char drive_letter, DWORD access, DWORD share);

    // --- COM (world API) ------------------------------------------------------------------------
    void add_com_class(const std::string& prog_id, const CLSID& clsid, ComFactory factory);
    // A new object with a method table of `methods` entries (at least 3), owned by the world.
    // It answers QueryInterface for IUnknown and every IID in `interfaces`.
    ComObject* make_com_object(const std::string& name, size_t methods, const std::vector<IID>& interfaces);
    uint32_t instances_created() const { return instances_created_; }
    // CoInitialize calls not yet balanced by CoUninitialize on a simulated thread.
    int com_init_count(uint32_t thread_id) const;
    // BSTRs from SysAllocString not yet freed.
    size_t live_bstrs() const { return bstrs_.size(); }

    // --- memory (memory.cpp) --------------------------------------------------------------------
    // Blocks from GlobalAlloc and LocalAlloc not yet freed.
    size_t live_memory_blocks() const { return blocks_.size(); }

    // --- internal, for the Win32 calls ----------------------------------------------------------
    struct Library {
        std::string name;  // as installed
        std::string key;   // lower case, no path, no ".dll"
        std::vector<LibraryExport> exports;
        uintptr_t base = 0;  // the HMODULE value
        uint32_t loads = 0;
        uint32_t refs = 0;
        bool removed = false;
    };
    struct Volume {
        char letter = 'C';
        VolumeConfig config;
        uint32_t opens = 0;
        DWORD fault_error = 0;
        int fault_count = 0;
        bool removed = false;
    };
    struct ComClass {
        std::string prog_id;
        CLSID clsid;
        ComFactory factory;
    };
    struct MemoryBlock {
        void* data = nullptr;
        size_t size = 0;
        bool moveable = false;
        bool local = false;  // LocalAlloc rather than GlobalAlloc
        unsigned locks = 0;
    };
    static std::string library_key(const std::string& name);
    Library* find_library(const std::string& name);
    Library* library_at(HMODULE module);
    std::shared_ptr<Volume> volume(char letter) const;
    const ComClass* find_class_by_prog_id(const std::string& prog_id) const;
    const ComClass* find_class(const CLSID& clsid) const;
    std::map<uint32_t, int>& com_inits() { return com_inits_; }
    std::map<uintptr_t, MemoryBlock>& blocks() { return blocks_; }
    uintptr_t next_moveable_handle() { return next_moveable_ += 16; }
    std::map<uintptr_t, size_t>& bstrs() { return bstrs_; }
    void count_instance() { ++instances_created_; }

private:
    World& world_;
    std::vector<std::unique_ptr<Library>> libraries_;
    uintptr_t next_base_ = 0x20000000;
    std::map<char, std::shared_ptr<Volume>> volumes_;
    std::vector<ComClass> classes_;
    std::vector<std::unique_ptr<ComObject>> objects_;
    std::map<uint32_t, int> com_inits_;
    std::map<uintptr_t, MemoryBlock> blocks_;
    uintptr_t next_moveable_ = 0x30000000;
    std::map<uintptr_t, size_t> bstrs_;  // string pointer -> allocation size
    uint32_t instances_created_ = 0;
};

}  // namespace sim
