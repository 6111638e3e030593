// The module's resources: LoadStringA over the module's whole string table (truncation and the
// missing string are held to Windows by the conformance cases, string.load.*), and the agreement
// between what the simulated world reads and what the resource compiler puts into Rovane.dll
// from the same files.
#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/dialog_hands.h"
#include "support/sim_test.h"
#include "win32/resources.h"
#include "world/world.h"

namespace {

// ---------------------------------------------------------------------------------------------
// LoadStringA.

TEST(LoadString, CopiesTheModulesTextsLendsAPointerAndKnowsOnlyTheModulesIds) {
    sim::World world(sim_test::config());
    world.load_module();
    world.spawn("host", [&] {
        HINSTANCE module = world.module_instance();
        char buf[600];
        EXPECT_EQ(LoadStringA(module, 101, buf, sizeof buf), 28);
        EXPECT_STREQ(buf, "Recorder at Host:%d ID:%d   ") << "trailing blanks kept";
        EXPECT_EQ(LoadStringA(module, 105, buf, sizeof buf), 64);
        EXPECT_STREQ(buf, "The input bin is empty.\nAdd more discs and push the Pick button.") << "a line feed";
        LoadStringA(module, 155, buf, sizeof buf);
        EXPECT_NE(std::strstr(buf, "press the \"Laminate\" button,"), nullptr) << "quotes: " << buf;

        const char* text = nullptr;
        const int n = LoadStringA(module, 140, reinterpret_cast<LPSTR>(&text), 0);
        ASSERT_EQ(n, 37) << "a zero-length buffer receives a pointer to the text";
        EXPECT_EQ(std::string(text, static_cast<size_t>(n)), "Waiting for the printing to finish...");

        // Every id from 101 to 167 but the unused ones has a text; nothing else has.
        const UINT unused[] = {104, 112, 131, 132, 137, 145, 146};
        for (UINT id = 100; id <= 168; ++id) {
            const bool known =
                id >= 101 && id <= 167 && std::find(std::begin(unused), std::end(unused), id) == std::end(unused);
            SetLastError(0);
            EXPECT_EQ(LoadStringA(module, id, buf, sizeof buf) > 0, known) << "string " << id;
            if (!known) EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND)) << id;
        }
        EXPECT_EQ(LoadStringA(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000)), 118, buf, sizeof buf), 0)
            << "another instance has no strings";
        EXPECT_EQ(LoadStringA(NULL, 118, buf, sizeof buf), 0);
    });
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// ---------------------------------------------------------------------------------------------
// The resource compiler reads the same files: its output must carry the same texts and controls.

std::string source_root() {
    std::string here = __FILE__;  // <root>/tests/world/resources_test.cpp
    for (int i = 0; i < 3; ++i) here = here.substr(0, here.find_last_of('/'));
    return here;
}

// A reader of little-endian resource data.
struct Reader {
    const std::vector<uint8_t>& b;
    size_t p = 0;
    bool ok = true;
    uint16_t u16() {
        if (p + 2 > b.size()) return ok = false;
        p += 2;
        return static_cast<uint16_t>(b[p - 2] | (b[p - 1] << 8));
    }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    int s16() { return static_cast<int16_t>(u16()); }
    // Wide text up to its NUL, as 8-bit characters (the resources are plain ASCII).
    std::string wide() {
        std::string s;
        for (uint16_t c = u16(); ok && c; c = u16()) s += static_cast<char>(c);
        return s;
    }
    // A name or ordinal: 0xFFFF then the ordinal ("#n"), else text.
    std::string sz_or_ord() {
        if (p + 2 > b.size() || b[p] != 0xff || b[p + 1] != 0xff) return wide();
        p += 2;
        return "#" + std::to_string(u16());
    }
    void align4() { p = (p + 3) & ~size_t(3); }
};

// One line for the dialog and one for each control: what the compiler and the simulated world
// must agree on.
std::string describe(uint32_t id, std::string cls, const std::string& text, uint32_t style, int x, int y, int cx,
                     int cy) {
    for (char& c : cls) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    char line[96];
    std::snprintf(line, sizeof line, " id 0x%x style 0x%08x at %d,%d size %dx%d ", id, style, x, y, cx, cy);
    return cls + line + "\"" + text + "\"\n";
}

std::string describe(const sim::DialogTemplate& t) {
    std::string out = describe(static_cast<uint32_t>(t.id), "dialog", t.caption, t.style(), t.x, t.y, t.cx, t.cy);
    for (const sim::DialogItem& i : t.items)
        out += describe(static_cast<uint32_t>(i.id), i.window_class(), i.text, i.style(), i.x, i.y, i.cx, i.cy);
    return out;
}

// The extended dialog template layout.
std::string parse_dialog(uint32_t id, const std::vector<uint8_t>& data) {
    Reader r{data};
    EXPECT_EQ(r.u16(), 1) << "version";
    EXPECT_EQ(r.u16(), 0xFFFF) << "an extended template";
    r.p += 8;  // help id, extended style
    const uint32_t style = r.u32();
    const uint16_t count = r.u16();
    const int x = r.s16(), y = r.s16(), cx = r.s16(), cy = r.s16();
    r.sz_or_ord();  // menu
    r.sz_or_ord();  // class
    std::string out = describe(id, "dialog", r.wide(), style, x, y, cx, cy);
    if (style & 0x40) {  // DS_SETFONT: size, weight, italic + charset, face
        r.p += 6;
        r.wide();
    }
    static const std::map<std::string, std::string> classes = {{"#128", "button"},  {"#129", "edit"},
                                                               {"#130", "static"},  {"#131", "listbox"},
                                                               {"#132", "scrollbar"}, {"#133", "combobox"}};
    for (uint16_t i = 0; i < count && r.ok; ++i) {
        r.align4();
        r.p += 8;  // help id, extended style
        const uint32_t item_style = r.u32();
        const int ix = r.s16(), iy = r.s16(), icx = r.s16(), icy = r.s16();
        const uint32_t item_id = r.u32();
        const std::string cls = r.sz_or_ord(), text = r.sz_or_ord();
        r.p += r.u16();  // creation data
        out += describe(item_id, classes.count(cls) ? classes.at(cls) : cls, text, item_style, ix, iy, icx, icy);
    }
    EXPECT_TRUE(r.ok) << "a truncated dialog";
    return out;
}

struct Compiled {
    std::map<UINT, std::string> strings;
    std::map<int, std::string> dialogs;  // described
};

// Compiles an .rc file with windres and reads the string tables and dialogs of the .res file:
// a sequence of entries, each a header (sizes, type, name ...) followed by its data, both
// aligned to 4 bytes.
Compiled compile(const std::string& rc, const std::string& dir) {
    const std::string root = source_root(), res = dir + "/out.res", log = dir + "/windres.log";
    const std::string cmd = "i686-w64-mingw32-windres -I '" + root + "/src/resources' -I '" + root +
                            "/tests/support' '" + rc + "' -O res -o '" + res + "' >'" + log + "' 2>&1";
    Compiled out;
    if (std::system(cmd.c_str()) != 0) {
        std::stringstream ss;
        ss << std::ifstream(log).rdbuf();
        ADD_FAILURE() << cmd << "\n" << ss.str();
        return out;
    }
    std::ifstream f(res, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    Reader r{bytes};
    while (r.p + 8 <= bytes.size()) {
        const size_t start = r.p;
        const uint32_t data_size = r.u32(), header_size = r.u32();
        const std::string type = r.sz_or_ord(), name = r.sz_or_ord();
        if (!r.ok || start + header_size + data_size > bytes.size()) {
            ADD_FAILURE() << "truncated resource at offset " << start;
            return out;
        }
        const std::vector<uint8_t> data(bytes.begin() + static_cast<long>(start + header_size),
                                        bytes.begin() + static_cast<long>(start + header_size + data_size));
        if (data_size > 0 && type == "#6") {  // a string block n: ids (n-1)*16 .. (n-1)*16+15, counted texts
            Reader s{data};
            for (UINT i = 0; i < 16; ++i) {
                std::string text;
                for (uint16_t n = s.u16(); n > 0; --n) text += static_cast<char>(s.u16());
                if (!text.empty()) out.strings[(std::stoul(name.substr(1)) - 1) * 16 + i] = text;
            }
            EXPECT_TRUE(s.ok) << "string block " << name;
        } else if (data_size > 0 && type == "#5") {
            const uint32_t id = static_cast<uint32_t>(std::stoul(name.substr(1)));
            out.dialogs[static_cast<int>(id)] = parse_dialog(id, data);
        }
        r.p = start + header_size + data_size;
        r.align4();
    }
    return out;
}

TEST(ResourceCompiler, ModuleAndTestResourcesMatchTheSimulatedOnesByteForByte) {
    if (std::system("command -v i686-w64-mingw32-windres >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "i686-w64-mingw32-windres is not installed";
    char pattern[] = "/tmp/rovane_rc_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;

    // The module's own script: every string and every dialog.
    const Compiled module = compile(source_root() + "/src/resources/rovane.rc", dir);
    sim::World world(sim_test::config());
    EXPECT_EQ(module.strings, world.resources().strings()) << "the compiled and the simulated string tables";
    EXPECT_EQ(module.dialogs.size(), world.resources().dialogs().size());
    for (const auto& [id, t] : world.resources().dialogs())
        EXPECT_EQ(module.dialogs.count(id) ? module.dialogs.at(id) : "missing", describe(t)) << "dialog " << id;

    // The same script with the test templates, which hold every kind of control line, in place
    // of the module's dialogs.
    const std::string rc = dir + "/test.rc";
    std::ofstream(rc) << "#define ROVANE_DIALOGS_INC \"test_dialogs.inc\"\n#include \"" << source_root()
                      << "/src/resources/rovane.rc\"\n";
    const Compiled tests = compile(rc, dir);
    const std::vector<sim::DialogTemplate> templates = sim_test::test_dialogs();
    ASSERT_EQ(tests.dialogs.size(), templates.size());
    for (const sim::DialogTemplate& t : templates)
        EXPECT_EQ(tests.dialogs.count(t.id) ? tests.dialogs.at(t.id) : "missing", describe(t)) << "dialog " << t.id;
    // Spot checks of values both sides agree on, against the resource format itself.
    const std::string& d = tests.dialogs.at(902);
    for (const char* line : {"dialog id 0x386 style 0x", "\"Controls \"All\" Kinds\"\n",
                             "static id 0xffffffff",                  // IDC_STATIC
                             "button id 0x451 style 0x40010003",      // 1105 hidden: no WS_VISIBLE
                             "button id 0x445 style 0x58010003",      // 1093 disabled, visible
                             "msctls_updown32 id 0x448",
                             "button id 0x467 style 0x50020009",      // 1127 ROVANE_GROUP: WS_GROUP
                             "button id 0x468 style 0x50000009",      // 1128 without
                             "\"Line one\nLine \\two\\\"\n"})
        EXPECT_NE(d.find(line), std::string::npos) << line << " in\n" << d;
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
