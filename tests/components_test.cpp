// Outside components as the module meets them: host engine libraries by name and ordinal, an
// in-process COM server called through its method table, the storage device query, memory
// blocks and wide-text conversion.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/components.h"

namespace {

template <class F>
void run_in(sim::World& world, F body) {
    world.spawn("test", body);
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// --- libraries --------------------------------------------------------------------------------

struct TrayCall {
    DWORD engine, unit, code;
};
std::vector<TrayCall> g_tray_calls;

extern "C" DWORD WINAPI fake_move_tray(DWORD engine, DWORD unit, DWORD code) {
    g_tray_calls.push_back({engine, unit, code});
    return 0;
}

extern "C" DWORD WINAPI fake_get_handle(DWORD* handle) {
    *handle = 0x5150;
    return 0;
}

TEST(Libraries, ExportsByNameAndOrdinalAndTheMissingModuleAndProcErrors) {
    sim::World world(sim_test::config());
    world.components().add_library("KT.dll", {{"Kt_MoveTray", 170, reinterpret_cast<void*>(&fake_move_tray)}});
    world.components().add_library("KTSDKPLS.dll", {{"VeltoSDK_GetHandle", 0, reinterpret_cast<void*>(&fake_get_handle)}});
    g_tray_calls.clear();
    run_in(world, [&] {
        HMODULE kt = LoadLibraryA("KT.dll");
        ASSERT_NE(kt, nullptr);
        EXPECT_EQ(LoadLibraryA("kt.DLL"), kt) << "names match without case";
        EXPECT_EQ(LoadLibraryA("C:\\Program Files\\Host\\KT.dll"), kt) << "a path prefix is ignored";
        EXPECT_EQ(LoadLibraryA("KT"), kt) << "the extension may be left out";

        typedef DWORD(WINAPI * MoveTrayFn)(DWORD, DWORD, DWORD);
        MoveTrayFn move = reinterpret_cast<MoveTrayFn>(reinterpret_cast<void*>(GetProcAddress(kt, MAKEINTRESOURCEA(170))));
        ASSERT_NE(move, nullptr);
        EXPECT_EQ(move(0x77, 3, 0x80000002), 0u);
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(kt, "Kt_MoveTray")), reinterpret_cast<void*>(move));

        SetLastError(0);
        EXPECT_EQ(GetProcAddress(kt, MAKEINTRESOURCEA(171)), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(kt, "kt_movetray"), nullptr) << "export names keep their case";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

        HMODULE sdk = LoadLibraryA("KTSDKPLS.dll");
        ASSERT_NE(sdk, nullptr);
        EXPECT_NE(sdk, kt);
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(sdk, "Kt_MoveTray"), nullptr) << "each library has its own exports";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
        typedef DWORD(WINAPI * GetHandleFn)(DWORD*);
        GetHandleFn get = reinterpret_cast<GetHandleFn>(reinterpret_cast<void*>(GetProcAddress(sdk, "VeltoSDK_GetHandle")));
        ASSERT_NE(get, nullptr);
        DWORD handle = 0;
        EXPECT_EQ(get(&handle), 0u);
        EXPECT_EQ(handle, 0x5150u);

        SetLastError(0);
        EXPECT_EQ(LoadLibraryA("Dorquel.dll"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

        // Each load takes a reference; after the last FreeLibrary the module is gone.
        EXPECT_EQ(world.components().loaded_refs("KT.dll"), 4u);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(FreeLibrary(kt));
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(kt, MAKEINTRESOURCEA(170)), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        EXPECT_FALSE(FreeLibrary(kt));
        EXPECT_TRUE(FreeLibrary(sdk));
    });
    ASSERT_EQ(g_tray_calls.size(), 1u);
    EXPECT_EQ(g_tray_calls[0].engine, 0x77u);
    EXPECT_EQ(g_tray_calls[0].unit, 3u);
    EXPECT_EQ(g_tray_calls[0].code, 0x80000002u);
    EXPECT_EQ(world.components().load_count("kt"), 4u);
    EXPECT_EQ(world.components().loaded_refs("kt"), 0u);
    EXPECT_EQ(world.components().load_count("Dorquel.dll"), 0u);
    EXPECT_FALSE(world.kernel().transcript().of_kind("lib").empty());
}

// --- COM --------------------------------------------------------------------------------------

const char kProgId[] = "STCD3Control.App.2";
const char kIid[] = "{9B514DAB-39D5-48C5-BF74-93408763BD15}";
const char kClsid[] = "{3C1F2A40-7D2B-4E55-9A0E-5B6C7D8E9F01}";

std::vector<std::wstring> g_owner_texts;
std::vector<int> g_ints;

extern "C" HRESULT STDMETHODCALLTYPE fake_set_owner(void* self, const wchar_t* text) {
    EXPECT_NE(sim::ComObject::from(self), nullptr);
    g_owner_texts.push_back(text);
    return S_OK;
}

extern "C" HRESULT STDMETHODCALLTYPE fake_set_int(void* self, int value) {
    (void)self;
    g_ints.push_back(value);
    return S_OK;
}

// Installs the label application's server: one object, answering the automation IID.
sim::ComObject* install_label_server(sim::World& world) {
    IID iid;
    CLSID clsid;
    EXPECT_TRUE(sim::parse_guid(kIid, &iid));
    EXPECT_TRUE(sim::parse_guid(kClsid, &clsid));
    sim::ComObject* obj = world.components().make_com_object("LabelApp", 30, {iid});
    obj->set_method(28, reinterpret_cast<void*>(&fake_set_owner));
    obj->set_method(14, reinterpret_cast<void*>(&fake_set_int));
    world.components().add_com_class(kProgId, clsid, [obj, iid](const IID& want) -> void* {
        return sim::same_guid(want, iid) ? obj->as_interface() : nullptr;
    });
    return obj;
}

typedef HRESULT(STDMETHODCALLTYPE* TextMethod)(void*, const wchar_t*);
typedef HRESULT(STDMETHODCALLTYPE* IntMethod)(void*, int);
typedef HRESULT(STDMETHODCALLTYPE* QueryMethod)(void*, const IID*, void**);
typedef HRESULT(STDMETHODCALLTYPE* NoArgMethod)(void*);

void* method(void* object, int index) { return (*static_cast<void***>(object))[index]; }

TEST(Com, ObjectCreatedFromItsProgIdIsCalledByIndexThroughItsMethodTable) {
    sim::World world(sim_test::config());
    sim::ComObject* server = install_label_server(world);
    g_owner_texts.clear();
    g_ints.clear();
    run_in(world, [&] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "already initialised on this thread";
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromProgID(L"stcd3control.app.2", &clsid), S_OK) << "ProgIDs match without case";
        EXPECT_EQ(sim::guid_text(clsid), kClsid);
        IID iid;
        ASSERT_TRUE(sim::parse_guid(kIid, &iid));
        void* app = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &app), S_OK);
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(sim::ComObject::from(app), server);

        BSTR owner = SysAllocString(L"Marlune");
        EXPECT_EQ(reinterpret_cast<TextMethod>(method(app, 28))(app, owner), S_OK);
        SysFreeString(owner);
        EXPECT_EQ(reinterpret_cast<IntMethod>(method(app, 14))(app, 0), S_OK);

        // A method the server does not provide answers E_NOTIMPL and is recorded.
        EXPECT_EQ(reinterpret_cast<NoArgMethod>(method(app, 10))(app), E_NOTIMPL);

        // The first three methods are QueryInterface, AddRef and Release.
        void* unk = nullptr;
        EXPECT_EQ(reinterpret_cast<QueryMethod>(method(app, 0))(app, &sim::kIID_IUnknown, &unk), S_OK);
        EXPECT_EQ(unk, app);
        void* other = reinterpret_cast<void*>(1);
        IID wrong = iid;
        wrong.Data1 ^= 1;
        EXPECT_EQ(reinterpret_cast<QueryMethod>(method(app, 0))(app, &wrong, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    });
    ASSERT_EQ(g_owner_texts.size(), 1u);
    EXPECT_EQ(g_owner_texts[0], L"Marlune");
    EXPECT_EQ(g_ints, std::vector<int>({0}));
    EXPECT_EQ(world.components().instances_created(), 1u);
    EXPECT_EQ(world.components().live_bstrs(), 0u);
    bool missing = false;
    for (const auto& e : world.kernel().transcript().of_kind("com"))
        missing = missing || e.text == "LabelApp method 10 called, which the object does not provide";
    EXPECT_TRUE(missing) << world.transcript_text();
}

TEST(Com, CreationFailuresNameTheirCause) {
    sim::World world(sim_test::config());
    install_label_server(world);
    CLSID clsid;
    IID iid;
    ASSERT_TRUE(sim::parse_guid(kClsid, &clsid));
    ASSERT_TRUE(sim::parse_guid(kIid, &iid));
    bool other_done = false;
    // Another thread's initialisation does not count for this one.
    world.spawn("other", [&] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        other_done = true;
    });
    run_in(world, [&] {
        while (!other_done) Sleep(1);
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p), CO_E_NOTINITIALIZED);
        EXPECT_EQ(p, nullptr);

        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        CLSID none;
        EXPECT_EQ(CLSIDFromProgID(L"STCD2Control.App.1", &none), CO_E_CLASSSTRING);
        CLSID unknown = clsid;
        unknown.Data4[7] ^= 0xFF;
        EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, iid, &p), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, &p), REGDB_E_CLASSNOTREG)
            << "only in-process servers are installed";
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, sim::kIID_IUnknown, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        CoUninitialize();
        EXPECT_EQ(world.components().com_init_count(GetCurrentThreadId()), 0);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p), CO_E_NOTINITIALIZED);
    });
    EXPECT_EQ(world.components().instances_created(), 0u);
}

TEST(Com, BstrCarriesItsByteLengthBeforeTheText) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        BSTR s = SysAllocString(L"C:\\Labels\\disc.std");
        ASSERT_NE(s, nullptr);
        DWORD bytes = 0;
        std::memcpy(&bytes, reinterpret_cast<const char*>(s) - sizeof(DWORD), sizeof bytes);
        EXPECT_EQ(bytes, std::wcslen(L"C:\\Labels\\disc.std") * sizeof(OLECHAR));
        EXPECT_EQ(std::wstring(s), L"C:\\Labels\\disc.std");
        EXPECT_EQ(world.components().live_bstrs(), 1u);
        SysFreeString(s);
        SysFreeString(nullptr);
        EXPECT_EQ(SysAllocString(nullptr), nullptr);
    });
    EXPECT_EQ(world.components().live_bstrs(), 0u);
}

// --- storage devices --------------------------------------------------------------------------

DWORD read_word(const std::vector<BYTE>& b, size_t at) {
    DWORD v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

std::string text_at(const std::vector<BYTE>& b, DWORD offset) {
    return offset ? std::string(reinterpret_cast<const char*>(b.data() + offset)) : std::string("(none)");
}

HANDLE open_drive(char letter) {
    const std::string name = std::string("\\\\.\\") + letter + ":";
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

TEST(Storage, DeviceQueryReportsTheSizeFirstThenTheStringsWithAndWithoutSerial) {
    sim::World world(sim_test::config());
    sim::VolumeConfig e;
    e.vendor = "PIONEER ";
    e.product = "DVD-RW  DVR-112D";
    e.revision = "1.21";
    e.serial = "  SN0042";
    world.components().add_volume('E', e);
    sim::VolumeConfig f = e;
    f.serial.reset();
    world.components().add_volume('f', f);

    run_in(world, [&] {
        EXPECT_EQ(IOCTL_STORAGE_QUERY_PROPERTY, 0x2D1400u);
        STORAGE_PROPERTY_QUERY q;
        std::memset(&q, 0, sizeof q);
        ASSERT_EQ(sizeof q, 12u);

        HANDLE h = open_drive('e');
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::vector<BYTE> head(8, 0xEE);
        DWORD got = 0;
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head.data(), 8, &got, nullptr));
        EXPECT_EQ(got, 8u);
        const DWORD size = read_word(head, 4);
        EXPECT_EQ(read_word(head, 0), size) << "Version and Size both give the full size";
        const size_t strings = std::strlen("PIONEER ") + std::strlen("DVD-RW  DVR-112D") + std::strlen("1.21") +
                               std::strlen("  SN0042") + 4;
        EXPECT_EQ(size, sizeof(STORAGE_DEVICE_DESCRIPTOR) + strings);

        std::vector<BYTE> full(size, 0);
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, full.data(), size, &got, nullptr));
        EXPECT_EQ(got, size);
        const STORAGE_DEVICE_DESCRIPTOR* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(full.data());
        EXPECT_EQ(d->BusType, BusTypeAtapi);
        EXPECT_EQ(d->RemovableMedia, 1);
        EXPECT_EQ(text_at(full, d->VendorIdOffset), "PIONEER ");
        EXPECT_EQ(text_at(full, d->ProductIdOffset), "DVD-RW  DVR-112D");
        EXPECT_EQ(text_at(full, d->ProductRevisionOffset), "1.21");
        EXPECT_EQ(read_word(full, 24), d->SerialNumberOffset) << "the serial offset is the word at byte 24";
        EXPECT_EQ(text_at(full, d->SerialNumberOffset), "  SN0042") << "blanks are kept";
        EXPECT_GE(d->VendorIdOffset, sizeof(STORAGE_DEVICE_DESCRIPTOR));

        // A buffer between the header and the full size gets what fits.
        std::vector<BYTE> part(20, 0xEE);
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, part.data(), 20, &got, nullptr));
        EXPECT_EQ(got, 20u);
        EXPECT_EQ(0, std::memcmp(part.data(), full.data(), 20));

        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head.data(), 7, &got, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(got, 0u);
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(h, 0x2D0C00, &q, sizeof q, full.data(), size, &got, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
        BYTE byte;
        DWORD n = 0;
        SetLastError(0);
        EXPECT_FALSE(ReadFile(h, &byte, 1, &n, nullptr)) << "the raw volume is not read";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
        EXPECT_TRUE(CloseHandle(h));
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, full.data(), size, &got, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

        // The same drive without a serial number: offset 0 and four bytes shorter.
        h = open_drive('F');
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head.data(), 8, &got, nullptr));
        const DWORD size_f = read_word(head, 4);
        EXPECT_EQ(size_f, size - std::strlen("  SN0042") - 1);
        std::vector<BYTE> full_f(size_f);
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, full_f.data(), size_f, &got, nullptr));
        EXPECT_EQ(read_word(full_f, 24), 0u);
        EXPECT_EQ(text_at(full_f, read_word(full_f, 12)), "PIONEER ");

        // Injected failures come back as the last error, then the query works again.
        world.components().fail_query('F', ERROR_MORE_DATA, 1);
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head.data(), 8, &got, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, head.data(), 8, &got, nullptr));
        EXPECT_TRUE(CloseHandle(h));

        SetLastError(0);
        EXPECT_EQ(open_drive('G'), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    });
    EXPECT_EQ(world.components().volume_opens('E'), 1u);
    EXPECT_EQ(world.handles().open_count("volume"), 0u);
}

// --- memory -----------------------------------------------------------------------------------

TEST(Memory, MoveableBlocksAreReachedByLockingAndEveryFreeIsCounted) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        HGLOBAL g = GlobalAlloc(GHND, 300);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(world.components().live_memory_blocks(), 1u);
        BYTE* p = static_cast<BYTE*>(GlobalLock(g));
        ASSERT_NE(p, nullptr);
        EXPECT_NE(static_cast<void*>(p), g) << "a moveable handle is not the memory";
        for (int i = 0; i < 300; ++i) ASSERT_EQ(p[i], 0) << "zero-filled at " << i;
        EXPECT_EQ(GlobalLock(g), p);
        EXPECT_TRUE(GlobalUnlock(g)) << "still locked once";
        SetLastError(99);
        EXPECT_FALSE(GlobalUnlock(g));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "unlocked for good";
        EXPECT_EQ(GlobalFree(g), nullptr);
        EXPECT_EQ(world.components().live_memory_blocks(), 0u);
        SetLastError(0);
        EXPECT_EQ(GlobalFree(g), g) << "a second free fails";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

        HLOCAL l = LocalAlloc(LPTR, 64);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(static_cast<BYTE*>(l)[63], 0) << "a fixed block is its own pointer";
        HLOCAL raw = LocalAlloc(LMEM_FIXED, 16);
        ASSERT_NE(raw, nullptr);
        EXPECT_NE(static_cast<BYTE*>(raw)[0], 0) << "without the zero flag the block is not cleared";
        EXPECT_EQ(world.components().live_memory_blocks(), 2u);
        EXPECT_EQ(LocalFree(l), nullptr);
        EXPECT_EQ(LocalFree(raw), nullptr);
        EXPECT_EQ(LocalFree(nullptr), nullptr);
    });
    EXPECT_EQ(world.components().live_memory_blocks(), 0u);
}

TEST(Memory, MultiByteToWideCharSizesAndConversion) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        const char latin[] = "caf\xe9";
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, latin, -1, nullptr, 0), 5) << "-1 counts the terminator";
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, latin, 4, nullptr, 0), 4);
        WCHAR out[8];
        std::fill(out, out + 8, L'#');
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, latin, -1, out, 8), 5);
        EXPECT_EQ(std::wstring(out), std::wstring(L"caf\u00e9"));
        std::fill(out, out + 8, L'#');
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, latin, 4, out, 8), 4);
        EXPECT_EQ(out[4], L'#') << "an explicit length adds no terminator";
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, latin, -1, out, 4), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

        const char utf8[] = "caf\xc3\xa9 \xf0\x9f\x98\x80";
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0), 8) << "a character beyond U+FFFF takes two";
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, 8), 8);
        EXPECT_EQ(out[3], static_cast<WCHAR>(0xE9));
        EXPECT_EQ(out[5], static_cast<WCHAR>(0xD83D));
        EXPECT_EQ(out[6], static_cast<WCHAR>(0xDE00));
        EXPECT_EQ(out[7], 0);

        const char bad[] = "a\xc3(";
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, bad, 3, out, 8), 3);
        EXPECT_EQ(out[1], static_cast<WCHAR>(0xFFFD));
        EXPECT_EQ(out[2], L'(');
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, 3, out, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, latin, 0, out, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, latin, -1, out, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    });
}

}  // namespace
