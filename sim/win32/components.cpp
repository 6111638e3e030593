// Outside components: library images, storage volumes and in-process COM classes, with the
// Win32 calls that reach them (LoadLibraryA, GetProcAddress, FreeLibrary, DeviceIoControl, the
// COM calls and the BSTR allocator).
#include "win32/components.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "kernel/handles.h"
#include "kernel/text.h"
#include "world/world.h"

namespace sim {

namespace {

std::string narrow(const WCHAR* w) {
    std::string s;
    if (!w) return s;
    for (; *w; ++w) s += (*w >= 0x20 && *w < 0x7f) ? static_cast<char>(*w) : '?';
    return s;
}

std::string hex32(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
    return b;
}

// --- COM method table defaults -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE default_query_interface(void* self, const IID* riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_INVALIDARG;
    ComObject* o = ComObject::from(self);
    bool known = same_guid(*riid, kIID_IUnknown);
    for (const IID& iid : o->interfaces) known = known || same_guid(*riid, iid);
    if (!known) return E_NOINTERFACE;
    ++o->refs;
    *ppv = o->as_interface();
    return S_OK;
}

ULONG STDMETHODCALLTYPE default_add_ref(void* self) {
    return static_cast<ULONG>(++ComObject::from(self)->refs);
}

ULONG STDMETHODCALLTYPE default_release(void* self) {
    ComObject* o = ComObject::from(self);
    if (o->refs > 0) --o->refs;
    // The world keeps the object: a server the module holds on to must outlive any count.
    return static_cast<ULONG>(o->refs);
}

// A method the device model did not provide: the call is recorded and answered E_NOTIMPL.
// Extra arguments the caller passes are ignored (the caller cleans up its own arguments).
template <size_t N>
HRESULT STDMETHODCALLTYPE missing_method(void* self) {
    kernel().record("com", ComObject::from(self)->name + " method " + std::to_string(N) +
                               " called, which the object does not provide");
    return E_NOTIMPL;
}

constexpr size_t kStubCount = 128;

template <size_t... I>
std::array<void*, sizeof...(I)> make_stubs(std::index_sequence<I...>) {
    return {{reinterpret_cast<void*>(&missing_method<I>)...}};
}

void* missing_stub(size_t index) {
    static const std::array<void*, kStubCount> stubs = make_stubs(std::make_index_sequence<kStubCount>());
    return index < kStubCount ? stubs[index] : stubs[kStubCount - 1];
}

// --- storage volumes -----------------------------------------------------------------------

// An open "\\.\X:" device. Reads and writes of the raw volume are not served.
struct VolumeObject : StreamObject {
    std::shared_ptr<Components::Volume> volume;
    DWORD access = 0;
    const char* type_name() const override { return "volume"; }
    uint32_t read(void*, uint32_t, uint32_t* done) override {
        *done = 0;
        return ERROR_INVALID_FUNCTION;
    }
    uint32_t write(const void*, uint32_t, uint32_t* done) override {
        *done = 0;
        return ERROR_INVALID_FUNCTION;
    }
};

// The device descriptor as the storage driver returns it: the fixed structure, then the
// NUL-terminated identification strings, each located by its offset from the start (0 when the
// device has no such string). Version and Size both give the full length.
std::vector<uint8_t> device_descriptor(const VolumeConfig& c) {
    std::vector<uint8_t> out(sizeof(STORAGE_DEVICE_DESCRIPTOR), 0);
    auto put = [&](const std::string& s) -> DWORD {
        const DWORD at = static_cast<DWORD>(out.size());
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
        return at;
    };
    STORAGE_DEVICE_DESCRIPTOR d;
    std::memset(&d, 0, sizeof d);
    d.DeviceType = c.device_type;
    d.DeviceTypeModifier = 0;
    d.RemovableMedia = c.removable ? 1 : 0;
    d.CommandQueueing = 0;
    d.VendorIdOffset = c.vendor.empty() ? 0 : put(c.vendor);
    d.ProductIdOffset = c.product.empty() ? 0 : put(c.product);
    d.ProductRevisionOffset = c.revision.empty() ? 0 : put(c.revision);
    d.SerialNumberOffset = c.serial ? put(*c.serial) : 0;
    d.BusType = c.bus;
    d.RawPropertiesLength = 0;
    d.Version = d.Size = static_cast<DWORD>(out.size());
    std::memcpy(out.data(), &d, sizeof d);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GUIDs

const IID kIID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool same_guid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 && std::memcmp(a.Data4, b.Data4, 8) == 0;
}

bool parse_guid(const std::string& text, GUID* out) {
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return false;
    std::string hex;
    for (char c : t)
        if (c != '-') hex += c;
    if (hex.size() != 32) return false;
    uint8_t b[16];
    for (int i = 0; i < 16; ++i) {
        unsigned v = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(hex[2 * i + k])));
            if (c >= '0' && c <= '9')
                v = v * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v = v * 16 + static_cast<unsigned>(c - 'a' + 10);
            else
                return false;
        }
        b[i] = static_cast<uint8_t>(v);
    }
    GUID g;
    g.Data1 = (DWORD(b[0]) << 24) | (DWORD(b[1]) << 16) | (DWORD(b[2]) << 8) | b[3];
    g.Data2 = static_cast<WORD>((b[4] << 8) | b[5]);
    g.Data3 = static_cast<WORD>((b[6] << 8) | b[7]);
    std::memcpy(g.Data4, b + 8, 8);
    *out = g;
    return true;
}

std::string guid_text(const GUID& g) {
    char b[40];
    std::snprintf(b, sizeof b, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return b;
}

void ComObject::set_method(size_t index, void* fn) {
    if (index >= methods.size()) {
        const size_t old = methods.size();
        methods.resize(index + 1);
        for (size_t i = old; i < methods.size(); ++i) methods[i] = missing_stub(i);
        iface.vtbl = methods.data();
    }
    methods[index] = fn ? fn : missing_stub(index);
}

// ---------------------------------------------------------------------------------------------
// World API

Components::Components(World& world) : world_(world) {}
Components::~Components() {
    for (auto& [p, size] : bstrs_) std::free(reinterpret_cast<uint8_t*>(p) - sizeof(DWORD));
    for (auto& [h, b] : blocks_) std::free(b.data);
}

std::string Components::library_key(const std::string& name) {
    std::string base = name;
    const size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    base = lower(base);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0) base.resize(base.size() - 4);
    return base;
}

void Components::add_library(const std::string& name, const std::vector<LibraryExport>& exports) {
    if (Library* old = find_library(name)) old->removed = true;
    auto lib = std::make_unique<Library>();
    lib->name = name;
    lib->key = library_key(name);
    lib->exports = exports;
    lib->base = next_base_;
    next_base_ += 0x10000;
    libraries_.push_back(std::move(lib));
}

bool Components::remove_library(const std::string& name) {
    Library* lib = find_library(name);
    if (!lib) return false;
    lib->removed = true;
    return true;
}

Components::Library* Components::find_library(const std::string& name) {
    const std::string key = library_key(name);
    for (auto& lib : libraries_)
        if (!lib->removed && lib->key == key) return lib.get();
    return nullptr;
}

Components::Library* Components::library_at(HMODULE module) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(module);
    for (auto& lib : libraries_)
        if (lib->base == base) return lib.get();
    return nullptr;
}

uint32_t Components::load_count(const std::string& name) const {
    const std::string key = library_key(name);
    uint32_t n = 0;
    for (auto& lib : libraries_)
        if (lib->key == key) n += lib->loads;
    return n;
}

uint32_t Components::loaded_refs(const std::string& name) const {
    const std::string key = library_key(name);
    uint32_t n = 0;
    for (auto& lib : libraries_)
        if (lib->key == key) n += lib->refs;
    return n;
}

void Components::add_volume(char drive_letter, const VolumeConfig& config) {
    const char l = static_cast<char>(std::toupper(static_cast<unsigned char>(drive_letter)));
    if (auto old = volume(l)) old->removed = true;
    auto v = std::make_shared<Volume>();
    v->letter = l;
    v->config = config;
    volumes_[l] = v;
}

bool Components::remove_volume(char drive_letter) {
    auto v = volume(drive_letter);
    if (!v) return false;
    v->removed = true;
    volumes_.erase(v->letter);
    return true;
}

std::shared_ptr<Components::Volume> Components::volume(char letter) const {
    auto it = volumes_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    return it == volumes_.end() ? nullptr : it->second;
}

void Components::fail_query(char drive_letter, DWORD error, int count) {
    if (auto v = volume(drive_letter)) {
        v->fault_error = error;
        v->fault_count = count;
    }
}

uint32_t Components::volume_opens(char drive_letter) const {
    auto v = volume(drive_letter);
    return v ? v->opens : 0;
}

HANDLE Components::open_volume(char drive_letter, DWORD access, DWORD share) {
    (void)share;
    auto v = volume(drive_letter);
    const std::string dev = std::string("\\\\.\\") + static_cast<char>(std::toupper(static_cast<unsigned char>(drive_letter))) + ":";
    if (!v) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        kernel().record("storage", "open " + dev + " failed: no such device");
        return INVALID_HANDLE_VALUE;
    }
    auto obj = std::make_shared<VolumeObject>();
    obj->volume = v;
    obj->access = access;
    ++v->opens;
    kernel().record("storage", "open " + dev + " access " + hex32(access));
    return world_.handles().add(obj);
}

void Components::add_com_class(const std::string& prog_id, const CLSID& clsid, ComFactory factory) {
    for (auto& c : classes_) {
        if (lower(c.prog_id) == lower(prog_id) || same_guid(c.clsid, clsid)) {
            c = ComClass{prog_id, clsid, std::move(factory)};
            return;
        }
    }
    classes_.push_back(ComClass{prog_id, clsid, std::move(factory)});
}

ComObject* Components::make_com_object(const std::string& name, size_t methods, const std::vector<IID>& interfaces) {
    auto o = std::make_unique<ComObject>();
    o->name = name;
    o->interfaces = interfaces;
    if (methods < 3) methods = 3;
    o->methods.resize(methods);
    for (size_t i = 0; i < methods; ++i) o->methods[i] = missing_stub(i);
    o->methods[0] = reinterpret_cast<void*>(&default_query_interface);
    o->methods[1] = reinterpret_cast<void*>(&default_add_ref);
    o->methods[2] = reinterpret_cast<void*>(&default_release);
    o->iface.vtbl = o->methods.data();
    o->iface.owner = o.get();
    objects_.push_back(std::move(o));
    return objects_.back().get();
}

const Components::ComClass* Components::find_class_by_prog_id(const std::string& prog_id) const {
    const std::string key = lower(prog_id);
    for (auto& c : classes_)
        if (lower(c.prog_id) == key) return &c;
    return nullptr;
}

const Components::ComClass* Components::find_class(const CLSID& clsid) const {
    for (auto& c : classes_)
        if (same_guid(c.clsid, clsid)) return &c;
    return nullptr;
}

int Components::com_init_count(uint32_t thread_id) const {
    auto it = com_inits_.find(thread_id);
    return it == com_inits_.end() ? 0 : it->second;
}

}  // namespace sim

// ---------------------------------------------------------------------------------------------
// Win32: libraries

using sim::Components;
using sim::kernel;
using sim::world;

namespace {
uint32_t current_thread_id() {
    sim::SimThread* t = kernel().current();
    return t ? t->id : 0;
}
}  // namespace

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    sim::enter_call("LoadLibraryA");
    Components& c = world().components();
    const std::string name = lpLibFileName ? lpLibFileName : "";
    Components::Library* lib = name.empty() ? nullptr : c.find_library(name);
    if (!lib) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        kernel().record("lib", "LoadLibraryA \"" + name + "\" failed: not found");
        return nullptr;
    }
    ++lib->loads;
    ++lib->refs;
    kernel().record("lib", "LoadLibraryA \"" + name + "\" -> " + lib->name + " (" + std::to_string(lib->refs) + " loaded)");
    return reinterpret_cast<HMODULE>(lib->base);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    sim::enter_call("GetProcAddress");
    Components::Library* lib = world().components().library_at(hModule);
    if (!lib || lib->refs == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        kernel().record("lib", "GetProcAddress on a module that is not loaded");
        return nullptr;
    }
    const bool by_ordinal = IS_INTRESOURCE(lpProcName);
    const WORD ordinal = by_ordinal ? LOWORD(reinterpret_cast<uintptr_t>(lpProcName)) : 0;
    const std::string what = by_ordinal ? "#" + std::to_string(ordinal) : std::string("\"") + lpProcName + "\"";
    for (const sim::LibraryExport& e : lib->exports) {
        const bool match = by_ordinal ? (ordinal != 0 && e.ordinal == ordinal) : (!e.name.empty() && e.name == lpProcName);
        if (match && e.function) {
            kernel().record("lib", "GetProcAddress " + lib->name + " " + what + " found");
            return reinterpret_cast<FARPROC>(e.function);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    kernel().record("lib", "GetProcAddress " + lib->name + " " + what + " failed: no such export");
    return nullptr;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    sim::enter_call("FreeLibrary");
    Components::Library* lib = world().components().library_at(hLibModule);
    if (!lib || lib->refs == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        kernel().record("lib", "FreeLibrary on a module that is not loaded");
        return FALSE;
    }
    --lib->refs;
    kernel().record("lib", "FreeLibrary " + lib->name + " (" + std::to_string(lib->refs) + " loaded)");
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Win32: the storage query

// An output buffer shorter than the full descriptor but holding at least its 8-byte header
// (Version and Size) gets as much of the descriptor as fits and the call succeeds with that
// many bytes returned, so a caller can learn the size first and query again; offsets in a cut
// descriptor still point where the strings would be.
extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                       LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED lpOverlapped) {
    sim::enter_call("DeviceIoControl");
    (void)lpOverlapped;  // every request completes at once
    if (lpBytesReturned) *lpBytesReturned = 0;
    auto object = world().handles().find(hDevice);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto vol = std::dynamic_pointer_cast<sim::VolumeObject>(object);
    if (!vol || dwIoControlCode != IOCTL_STORAGE_QUERY_PROPERTY) {
        SetLastError(ERROR_INVALID_FUNCTION);
        kernel().record("storage", "DeviceIoControl " + sim::hex32(dwIoControlCode) + " refused: invalid function");
        return FALSE;
    }
    if (vol->volume->removed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::string dev = std::string(1, vol->volume->letter) + ":";
    const size_t query_head = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    if (!lpBytesReturned || !lpInBuffer || nInBufferSize < query_head) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    STORAGE_PROPERTY_QUERY q;
    std::memset(&q, 0, sizeof q);
    std::memcpy(&q, lpInBuffer, query_head);
    if (q.PropertyId != StorageDeviceProperty ||
        (q.QueryType != PropertyStandardQuery && q.QueryType != PropertyExistsQuery)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        kernel().record("storage", "query " + dev + " property " + std::to_string(q.PropertyId) + " type " +
                                       std::to_string(q.QueryType) + " not supported");
        return FALSE;
    }
    sim::Components::Volume& v = *vol->volume;
    if (v.fault_count != 0) {
        if (v.fault_count > 0) --v.fault_count;
        SetLastError(v.fault_error);
        kernel().record("storage", "query " + dev + " failed with error " + std::to_string(v.fault_error));
        return FALSE;
    }
    if (q.QueryType == PropertyExistsQuery) return TRUE;
    if (!lpOutBuffer || nOutBufferSize < 8) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        kernel().record("storage", "query " + dev + " device descriptor: buffer of " + std::to_string(nOutBufferSize) +
                                       " bytes too small");
        return FALSE;
    }
    const std::vector<uint8_t> d = sim::device_descriptor(v.config);
    const size_t n = std::min<size_t>(d.size(), nOutBufferSize);
    std::memcpy(lpOutBuffer, d.data(), n);
    *lpBytesReturned = static_cast<DWORD>(n);
    kernel().record("storage", "query " + dev + " device descriptor: " + std::to_string(d.size()) + " bytes, " +
                                   std::to_string(n) + " returned, serial " +
                                   (v.config.serial ? "\"" + sim::Transcript::escape(*v.config.serial) + "\"" : "none"));
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Win32: COM

extern "C" HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    sim::enter_call("CoInitialize");
    (void)pvReserved;
    int& n = world().components().com_inits()[current_thread_id()];
    ++n;
    const HRESULT hr = n == 1 ? S_OK : S_FALSE;
    kernel().record("com", std::string("CoInitialize -> ") + (hr == S_OK ? "S_OK" : "S_FALSE"));
    return hr;
}

extern "C" void WINAPI CoUninitialize(void) {
    sim::enter_call("CoUninitialize");
    auto& inits = world().components().com_inits();
    auto it = inits.find(current_thread_id());
    if (it != inits.end() && it->second > 0) --it->second;
    kernel().record("com", "CoUninitialize");
}

extern "C" HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    sim::enter_call("CLSIDFromProgID");
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    const std::string prog_id = sim::narrow(lpszProgID);
    const Components::ComClass* c = world().components().find_class_by_prog_id(prog_id);
    if (!c) {
        std::memset(lpclsid, 0, sizeof *lpclsid);
        kernel().record("com", "CLSIDFromProgID \"" + prog_id + "\" -> CO_E_CLASSSTRING");
        return CO_E_CLASSSTRING;
    }
    *lpclsid = c->clsid;
    kernel().record("com", "CLSIDFromProgID \"" + prog_id + "\" -> " + sim::guid_text(c->clsid));
    return S_OK;
}

extern "C" HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                           LPVOID* ppv) {
    sim::enter_call("CoCreateInstance");
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    Components& comp = world().components();
    const std::string what = "CoCreateInstance " + sim::guid_text(rclsid) + " " + sim::guid_text(riid);
    auto result = [&](HRESULT hr, const char* text) {
        kernel().record("com", what + " -> " + text);
        return hr;
    };
    if (comp.com_init_count(current_thread_id()) <= 0) return result(CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED");
    const Components::ComClass* c = comp.find_class(rclsid);
    // Only in-process servers are installed.
    if (!c || !(dwClsContext & CLSCTX_INPROC_SERVER)) return result(REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG");
    if (pUnkOuter) return result(CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION");
    void* p = c->factory ? c->factory(riid) : nullptr;
    if (!p) return result(E_NOINTERFACE, "E_NOINTERFACE");
    comp.count_instance();
    *ppv = p;
    return result(S_OK, "S_OK");
}

// A BSTR is preceded by its length in bytes (without the terminator), as the system allocator
// lays it out.
extern "C" BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    sim::enter_call("SysAllocString");
    if (!psz) return nullptr;
    const size_t len = std::wcslen(psz);
    const size_t size = sizeof(DWORD) + (len + 1) * sizeof(OLECHAR);
    uint8_t* block = static_cast<uint8_t*>(std::malloc(size));
    if (!block) return nullptr;
    const DWORD bytes = static_cast<DWORD>(len * sizeof(OLECHAR));
    std::memcpy(block, &bytes, sizeof bytes);
    BSTR s = reinterpret_cast<BSTR>(block + sizeof(DWORD));
    std::memcpy(s, psz, (len + 1) * sizeof(OLECHAR));
    world().components().bstrs()[reinterpret_cast<uintptr_t>(s)] = size;
    return s;
}

extern "C" void WINAPI SysFreeString(BSTR bstrString) {
    sim::enter_call("SysFreeString");
    if (!bstrString) return;
    auto& live = world().components().bstrs();
    auto it = live.find(reinterpret_cast<uintptr_t>(bstrString));
    if (it == live.end()) {
        kernel().fail("SysFreeString of a string that SysAllocString did not hand out (or freed twice)");
        return;
    }
    live.erase(it);
    std::free(reinterpret_cast<uint8_t*>(bstrString) - sizeof(DWORD));
}
