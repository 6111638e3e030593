// Outside components as the world installs them: host engine libraries by name and ordinal, an
// in-process COM server called through its method table, the storage device query of a volume,
// memory blocks the world counts, and wide-text conversion beyond ASCII. What the calls return
// for what is not installed, and for plain ASCII text, is held to Windows by the conformance
// cases (lib.*, com.*, device.*, mem.*, wide.*).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/components.h"

namespace {

using sim_test::run_in;

// --- libraries --------------------------------------------------------------------------------

std::vector<DWORD> last_tray_call;

extern "C" DWORD WINAPI fake_move_tray(DWORD engine, DWORD unit, DWORD code) {
    last_tray_call = {engine, unit, code};
    return 0;
}

extern "C" DWORD WINAPI fake_get_handle(DWORD* handle) {
    *handle = 0x5150;
    return 0;
}

TEST(Libraries, ExportsByNameAndOrdinalAndTheMissingProcError) {
    sim::World world(sim_test::config());
    world.components().add_library("KT.dll", {{"Kt_MoveTray", 170, reinterpret_cast<void*>(&fake_move_tray)}});
    world.components().add_library("KTSDKPLS.dll", {{"VeltoSDK_GetHandle", 0, reinterpret_cast<void*>(&fake_get_handle)}});
    last_tray_call.clear();
    run_in(world, [&] {
        HMODULE kt = LoadLibraryA("KT.dll");
        ASSERT_NE(kt, nullptr);
        EXPECT_EQ(LoadLibraryA("kt.DLL"), kt) << "names match without case";
        typedef DWORD(WINAPI * MoveTrayFn)(DWORD, DWORD, DWORD);
        auto move = reinterpret_cast<MoveTrayFn>(reinterpret_cast<void*>(GetProcAddress(kt, MAKEINTRESOURCEA(170))));
        ASSERT_NE(move, nullptr) << "by ordinal";
        EXPECT_EQ(move(0x77, 3, 0x80000002), 0u);
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(kt, MAKEINTRESOURCEA(171)), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << "127 for a missing ordinal";

        HMODULE sdk = LoadLibraryA("KTSDKPLS.dll");
        ASSERT_NE(sdk, nullptr);
        EXPECT_EQ(GetProcAddress(sdk, "Kt_MoveTray"), nullptr) << "each library has its own exports";
        typedef DWORD(WINAPI * GetHandleFn)(DWORD*);
        auto get = reinterpret_cast<GetHandleFn>(reinterpret_cast<void*>(GetProcAddress(sdk, "VeltoSDK_GetHandle")));
        ASSERT_NE(get, nullptr) << "by name";
        DWORD handle = 0;
        EXPECT_EQ(get(&handle), 0u);
        EXPECT_EQ(handle, 0x5150u);
    });
    EXPECT_EQ(last_tray_call, (std::vector<DWORD>{0x77, 3, 0x80000002})) << "the export got the caller's arguments";
    EXPECT_EQ(world.components().load_count("kt"), 2u);
}

// --- COM --------------------------------------------------------------------------------------

const char kIid[] = "{9B514DAB-39D5-48C5-BF74-93408763BD15}";
const char kClsid[] = "{3C1F2A40-7D2B-4E55-9A0E-5B6C7D8E9F01}";

std::vector<std::wstring> g_owner_texts;
std::vector<int> g_ints;

extern "C" HRESULT STDMETHODCALLTYPE fake_set_owner(void* self, const wchar_t* text) {
    EXPECT_NE(sim::ComObject::from(self), nullptr);
    g_owner_texts.push_back(text);
    return S_OK;
}

extern "C" HRESULT STDMETHODCALLTYPE fake_set_int(void*, int value) {
    g_ints.push_back(value);
    return S_OK;
}

typedef HRESULT(STDMETHODCALLTYPE* TextMethod)(void*, const wchar_t*);
typedef HRESULT(STDMETHODCALLTYPE* IntMethod)(void*, int);
typedef HRESULT(STDMETHODCALLTYPE* QueryMethod)(void*, const IID*, void**);
typedef HRESULT(STDMETHODCALLTYPE* NoArgMethod)(void*);

void* method(void* object, int index) { return (*static_cast<void***>(object))[index]; }

TEST(Com, ObjectCreatedFromItsProgIdIsCalledByIndexAndCountedAndUninitialisingAsOftenEndsCom) {
    sim::World world(sim_test::config());
    IID iid;
    CLSID clsid;
    ASSERT_TRUE(sim::parse_guid(kIid, &iid));
    ASSERT_TRUE(sim::parse_guid(kClsid, &clsid));
    // The label application's server: one object, answering the automation IID.
    sim::ComObject* server = world.components().make_com_object("LabelApp", 30, {iid});
    server->set_method(28, reinterpret_cast<void*>(&fake_set_owner));
    server->set_method(14, reinterpret_cast<void*>(&fake_set_int));
    world.components().add_com_class("STCD3Control.App.2", clsid, [server, iid](const IID& want) -> void* {
        return sim::same_guid(want, iid) ? server->as_interface() : nullptr;
    });
    g_owner_texts.clear();
    g_ints.clear();
    run_in(world, [&] {
        void* app = reinterpret_cast<void*>(1);
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &app);  // refused before CoInitialize
        EXPECT_EQ(app, nullptr) << "a refused creation hands out no object";
        CoInitialize(nullptr);
        CoInitialize(nullptr);

        CLSID found = {};
        ASSERT_EQ(CLSIDFromProgID(L"stcd3control.app.2", &found), S_OK) << "ProgIDs match without case";
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, sim::kIID_IUnknown, &app), E_NOINTERFACE)
            << "the factory does not hand out that interface";
        ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, iid, &app), S_OK);
        EXPECT_EQ(sim::ComObject::from(app), server);

        BSTR owner = SysAllocString(L"Marlune");
        DWORD bytes = 0;
        std::memcpy(&bytes, reinterpret_cast<const char*>(owner) - sizeof(DWORD), sizeof bytes);
        EXPECT_EQ(bytes, 7 * sizeof(OLECHAR)) << "a BSTR carries its byte length before the text";
        EXPECT_EQ(reinterpret_cast<TextMethod>(method(app, 28))(app, owner), S_OK);
        SysFreeString(owner);
        EXPECT_EQ(reinterpret_cast<IntMethod>(method(app, 14))(app, 0), S_OK);
        EXPECT_EQ(reinterpret_cast<NoArgMethod>(method(app, 10))(app), E_NOTIMPL) << "a method the server lacks";
        void* unk = nullptr;
        EXPECT_EQ(reinterpret_cast<QueryMethod>(method(app, 0))(app, &sim::kIID_IUnknown, &unk), S_OK)
            << "method 0 is QueryInterface";
        EXPECT_EQ(unk, app);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &app), CO_E_NOTINITIALIZED)
            << "uninitialised as often as initialised";
    });
    EXPECT_EQ(g_owner_texts, std::vector<std::wstring>({L"Marlune"})) << "method 28 got the text";
    EXPECT_EQ(g_ints, std::vector<int>({0})) << "method 14 got the number";
    EXPECT_EQ(world.components().instances_created(), 1u);
    EXPECT_EQ(world.components().live_bstrs(), 0u);
    const std::vector<std::string> com = sim_test::transcript_texts(world, "com");
    EXPECT_EQ(std::count(com.begin(), com.end(), "LabelApp method 10 called, which the object does not provide"), 1)
        << "the missing method is recorded";
}

// --- storage devices --------------------------------------------------------------------------

DWORD word_at(const std::vector<BYTE>& b, size_t at) {
    DWORD v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

std::string text_at(const std::vector<BYTE>& b, DWORD offset) {
    return offset ? std::string(reinterpret_cast<const char*>(b.data() + offset)) : std::string("(none)");
}

// One storage query of an open volume into a buffer of `size` bytes; false with the last error.
bool query(HANDLE h, std::vector<BYTE>* out, DWORD size) {
    STORAGE_PROPERTY_QUERY q;
    std::memset(&q, 0, sizeof q);
    out->assign(size, 0xEE);
    DWORD got = 0;
    const BOOL ok = DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, out->data(), size, &got, nullptr);
    EXPECT_EQ(got, ok ? size : 0u);
    return ok;
}

HANDLE open_drive(char letter) {
    const std::string name = std::string("\\\\.\\") + letter + ":";
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// (A volume without a serial number and an injected failure, through the module's reader:
// recorders_test, RecorderSerial.StorageQuery...)
TEST(Storage, DeviceQueryReportsTheSizeFirstThenTheStrings) {
    sim::World world(sim_test::config());
    sim::VolumeConfig e;
    e.vendor = "PIONEER ";
    e.product = "DVD-RW  DVR-112D";
    e.revision = "1.21";
    e.serial = "  SN0042";
    world.components().add_volume('E', e);

    run_in(world, [&] {
        HANDLE h = open_drive('e');
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::vector<BYTE> head, full;
        ASSERT_TRUE(query(h, &head, 8)) << "the header alone";
        const DWORD size = word_at(head, 4);
        EXPECT_EQ(word_at(head, 0), size) << "Version and Size both give the full size";
        EXPECT_EQ(size, sizeof(STORAGE_DEVICE_DESCRIPTOR) + std::strlen("PIONEER DVD-RW  DVR-112D1.21  SN0042") + 4);
        ASSERT_TRUE(query(h, &full, size));
        const auto* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(full.data());
        EXPECT_GE(d->VendorIdOffset, sizeof(STORAGE_DEVICE_DESCRIPTOR)) << "the strings follow the descriptor";
        EXPECT_EQ(text_at(full, d->VendorIdOffset), "PIONEER ");
        EXPECT_EQ(text_at(full, d->ProductIdOffset), "DVD-RW  DVR-112D");
        EXPECT_EQ(text_at(full, d->ProductRevisionOffset), "1.21");
        EXPECT_EQ(word_at(full, 24), d->SerialNumberOffset) << "the serial offset is the word at byte 24";
        EXPECT_EQ(text_at(full, d->SerialNumberOffset), "  SN0042") << "blanks are kept";
        SetLastError(0);
        EXPECT_FALSE(query(h, &head, 7));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "shorter than the header";
        EXPECT_TRUE(CloseHandle(h));

        SetLastError(0);
        EXPECT_EQ(open_drive('G'), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    });
    EXPECT_EQ(world.components().volume_opens('E'), 1u);
    EXPECT_EQ(world.handles().open_count("volume"), 0u);
}

// --- memory -----------------------------------------------------------------------------------

// Memory blocks: what the conformance cases mem.global.moveable and mem.local.fixed do not hold
// (that zero-filled blocks are zero-filled): the counts, a block without the zero flag, a double
// free. Wide text beyond ASCII.
TEST(Memory, BlocksAreCountedUntilFreedAndMultiByteToWideCharConvertsBeyondAscii) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        HGLOBAL g = GlobalAlloc(GHND, 300);
        ASSERT_NE(g, nullptr);
        BYTE* p = static_cast<BYTE*>(GlobalLock(g));
        ASSERT_NE(p, nullptr);
        EXPECT_NE(static_cast<void*>(p), g) << "a moveable handle is not the memory";
        GlobalUnlock(g);
        HLOCAL l = LocalAlloc(LPTR, 64), raw = LocalAlloc(LMEM_FIXED, 16);
        ASSERT_TRUE(l && raw);
        EXPECT_NE(static_cast<BYTE*>(raw)[0], 0) << "without the zero flag the block is not cleared";
        EXPECT_EQ(world.components().live_memory_blocks(), 3u);
        GlobalFree(g);
        LocalFree(l);
        LocalFree(raw);
        SetLastError(0);
        EXPECT_EQ(GlobalFree(g), g) << "a second free fails";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

        const char latin[] = "caf\xe9";
        WCHAR out[8];
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, latin, -1, out, 8), 5);
        EXPECT_EQ(std::wstring(out), std::wstring(L"caf\u00e9"));
        std::fill(out, out + 8, L'#');
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, latin, 4, out, 8), 4);
        EXPECT_EQ(out[4], L'#') << "an explicit length adds no terminator";

        const char utf8[] = "caf\xc3\xa9 \xf0\x9f\x98\x80";
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, 8), 8) << "a character beyond U+FFFF takes two";
        EXPECT_EQ(std::vector<WCHAR>(out + 3, out + 8), (std::vector<WCHAR>{0xE9, L' ', 0xD83D, 0xDE00, 0}));
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xc3(", 3, out, 8), 3);
        EXPECT_EQ(out[1], static_cast<WCHAR>(0xFFFD)) << "a sequence cut short becomes U+FFFD, the next byte kept";
    });
    EXPECT_EQ(world.components().live_memory_blocks(), 0u);
}

}  // namespace
