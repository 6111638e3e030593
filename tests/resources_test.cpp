// The module's resources: LoadStringA over the string table, the dialog templates, and the
// agreement between what the simulated world reads and what the resource compiler puts into
// Rovane.dll from the same files.
#include <windows.h>

#include <unistd.h>

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
#include "support/sim_test.h"
#include "win32/resources.h"
#include "world/world.h"

namespace {

std::vector<sim::DialogTemplate> test_dialogs() {
    std::vector<sim::DialogTemplate> list;
    sim::DialogListBuilder rovane_dialogs(list);
#include "win32/dialog_macros.h"
#include "support/test_dialogs.inc"
    return list;
}

// Runs body on a simulated thread of a world with the module loaded.
template <class F>
void in_world(F body) {
    sim::World world(sim_test::config());
    world.load_module();
    world.spawn("host", [&] { body(world); });
    sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// ---------------------------------------------------------------------------------------------
// LoadStringA.

TEST(LoadString, CopiesTextsExactlyWithLineFeedsQuotesAndTrailingBlanks) {
    in_world([](sim::World& world) {
        HINSTANCE module = world.module_instance();
        char buf[600];
        EXPECT_EQ(LoadStringA(module, 101, buf, sizeof buf), 28);
        EXPECT_STREQ(buf, "Recorder at Host:%d ID:%d   ");
        EXPECT_EQ(LoadStringA(module, 105, buf, sizeof buf), 64);
        EXPECT_STREQ(buf, "The input bin is empty.\nAdd more discs and push the Pick button.");
        LoadStringA(module, 155, buf, sizeof buf);
        EXPECT_NE(std::strstr(buf, "press the \"Laminate\" button,"), nullptr) << buf;
        LoadStringA(module, 118, buf, sizeof buf);
        EXPECT_STREQ(buf, "Optical Disc Duplicator");
        LoadStringA(module, 144, buf, sizeof buf);
        EXPECT_EQ(std::strncmp(buf, "Do you want the Duplicator to begin picking from the Initial input bin?", 71), 0)
            << buf;
        LoadStringA(module, 163, buf, sizeof buf);
        EXPECT_NE(std::strstr(buf, "Do you want to pick from all 4 input bins?"), nullptr) << buf;
    });
}

TEST(LoadString, TruncatesToTheBufferAndCountsWhatItCopied) {
    in_world([](sim::World& world) {
        HINSTANCE module = world.module_instance();
        char buf[32];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(LoadStringA(module, 118, buf, 10), 9);
        EXPECT_STREQ(buf, "Optical D");
        EXPECT_EQ(buf[10], 'x');  // nothing written past the buffer
        EXPECT_EQ(LoadStringA(module, 118, buf, 1), 0);
        EXPECT_STREQ(buf, "");
        EXPECT_EQ(LoadStringA(module, 118, buf, 24), 23);  // exactly fits with its terminator
        EXPECT_STREQ(buf, "Optical Disc Duplicator");
    });
}

TEST(LoadString, ZeroLengthBufferReceivesAPointerToTheText) {
    in_world([](sim::World& world) {
        const char* text = nullptr;
        const int n = LoadStringA(world.module_instance(), 140, reinterpret_cast<LPSTR>(&text), 0);
        EXPECT_EQ(n, 37);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text, static_cast<size_t>(n)), "Waiting for the printing to finish...");
    });
}

TEST(LoadString, MissingIdsAndOtherInstancesHaveNoStrings) {
    in_world([](sim::World& world) {
        char buf[64] = "unchanged";
        SetLastError(0);
        EXPECT_EQ(LoadStringA(world.module_instance(), 104, buf, sizeof buf), 0);  // an id the module never uses
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(LoadStringA(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000)), 118, buf, sizeof buf), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(LoadStringA(NULL, 118, buf, sizeof buf), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    });
}

TEST(StringTable, HoldsEveryIdTheModuleShowsAndNoOther) {
    sim::World world(sim_test::config());
    std::vector<UINT> ids;
    for (const auto& s : world.resources().strings()) ids.push_back(s.first);
    std::vector<UINT> expected;
    for (UINT id = 101; id <= 167; ++id) {
        const UINT unused[] = {104, 112, 131, 132, 137, 145, 146};
        if (std::find(std::begin(unused), std::end(unused), id) == std::end(unused)) expected.push_back(id);
    }
    EXPECT_EQ(ids, expected);
    for (const auto& s : world.resources().strings()) EXPECT_FALSE(s.second.empty()) << s.first;
}

// ---------------------------------------------------------------------------------------------
// Templates.

TEST(DialogTemplates, MacrosBuildTemplatesWithKindsFlagsAndStyles) {
    const std::vector<sim::DialogTemplate> list = test_dialogs();
    ASSERT_EQ(list.size(), 2u);
    const sim::DialogTemplate& d = list[1];
    EXPECT_EQ(d.id, 902);
    EXPECT_EQ(d.caption, "Controls \"All\" Kinds");
    EXPECT_EQ(d.x, 20);
    EXPECT_EQ(d.cy, 150);
    ASSERT_EQ(d.items.size(), 17u);
    const sim::DialogItem* hidden = d.item(1105);
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->kind, sim::ControlKind::CheckBox);
    EXPECT_TRUE(hidden->hidden());
    EXPECT_FALSE(hidden->disabled());
    EXPECT_EQ(hidden->style() & 0x10000000u, 0u);  // no WS_VISIBLE
    EXPECT_EQ(hidden->style() & 0xFu, 0x3u);       // BS_AUTOCHECKBOX
    const sim::DialogItem* both = d.item(1192);
    ASSERT_NE(both, nullptr);
    EXPECT_TRUE(both->hidden() && both->disabled());
    EXPECT_EQ(both->window_class(), "Static");
    EXPECT_EQ(d.item(1096)->window_class(), "msctls_updown32");
    EXPECT_EQ(d.item(1096)->kind, sim::ControlKind::UpDown);
    EXPECT_EQ(d.item(1107)->text, "Line one\nLine \\two\\");
    EXPECT_EQ(d.items[0].id, IDC_STATIC);
    EXPECT_NE(d.item(1127)->style() & 0x00020000u, 0u);  // ROVANE_GROUP: WS_GROUP
    EXPECT_EQ(d.item(1128)->style() & 0x00020000u, 0u);
}

TEST(DialogTemplates, OnlyTheModuleInstanceHasThem) {
    sim::World world(sim_test::config());
    for (const sim::DialogTemplate& d : test_dialogs()) world.resources().add_dialog(d);
    EXPECT_NE(world.resources().dialog(world.module_instance(), 901), nullptr);
    EXPECT_EQ(world.resources().dialog(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x00400000)), 901), nullptr);
    EXPECT_EQ(world.resources().dialog(world.module_instance(), 903), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The resource compiler reads the same files: its output must carry the same texts and controls.

std::string source_root() {
    std::string here = __FILE__;  // <root>/tests/resources_test.cpp
    for (int i = 0; i < 2; ++i) here = here.substr(0, here.find_last_of('/'));
    return here;
}

bool have_windres() { return std::system("command -v i686-w64-mingw32-windres >/dev/null 2>&1") == 0; }

std::string temp_dir() {
    char pattern[] = "/tmp/rovane_rc_XXXXXX";
    const char* d = mkdtemp(pattern);
    return d ? d : "";
}

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Compiles an .rc file; returns the .res bytes (empty on failure, with the tool's output).
std::vector<uint8_t> windres(const std::string& dir, const std::string& rc, std::string* output) {
    const std::string root = source_root();
    const std::string res = dir + "/out.res", log = dir + "/windres.log";
    const std::string cmd = "i686-w64-mingw32-windres -I '" + root + "/src/resources' -I '" + root +
                            "/tests/support' '" + rc + "' -O res -o '" + res + "' >'" + log + "' 2>&1";
    const int rc_status = std::system(cmd.c_str());
    std::ifstream f(log);
    std::stringstream ss;
    ss << f.rdbuf();
    *output = cmd + "\n" + ss.str();
    return rc_status == 0 ? read_all(res) : std::vector<uint8_t>();
}

// A reader of the compiled resource file: a sequence of entries, each a header (sizes, type,
// name, language ...) followed by its data, both aligned to 4 bytes.
struct ResEntry {
    uint32_t type = 0;  // ordinal (RT_STRING 6, RT_DIALOG 5)
    uint32_t name = 0;  // ordinal
    std::vector<uint8_t> data;
};

struct Reader {
    const std::vector<uint8_t>& b;
    size_t p;
    bool ok = true;
    uint16_t u16() {
        if (p + 2 > b.size()) {
            ok = false;
            return 0;
        }
        const uint16_t v = static_cast<uint16_t>(b[p] | (b[p + 1] << 8));
        p += 2;
        return v;
    }
    uint32_t u32() {
        const uint32_t lo = u16();
        return lo | (static_cast<uint32_t>(u16()) << 16);
    }
    int16_t s16() { return static_cast<int16_t>(u16()); }
    // Wide text up to its NUL, as 8-bit characters (the resources are plain ASCII).
    std::string wide() {
        std::string s;
        for (uint16_t c = u16(); ok && c; c = u16()) {
            if (c > 0x7f) ok = false;
            s += static_cast<char>(c);
        }
        return s;
    }
    // A name or ordinal: 0xFFFF then the ordinal, else text. Ordinals come back as "#n".
    std::string sz_or_ord() {
        if (p + 2 <= b.size() && b[p] == 0xff && b[p + 1] == 0xff) {
            u16();
            return "#" + std::to_string(u16());
        }
        return wide();
    }
    void align4(size_t base = 0) { p = base + ((p - base + 3) & ~size_t(3)); }
};

std::vector<ResEntry> parse_res(const std::vector<uint8_t>& bytes, std::string* error) {
    std::vector<ResEntry> out;
    Reader r{bytes, 0};
    while (r.p + 8 <= bytes.size()) {
        const size_t start = r.p;
        const uint32_t data_size = r.u32(), header_size = r.u32();
        const std::string type = r.sz_or_ord(), name = r.sz_or_ord();
        if (!r.ok || start + header_size + data_size > bytes.size()) {
            *error = "truncated resource at offset " + std::to_string(start);
            return out;
        }
        if (data_size > 0) {
            if (type[0] != '#' || name[0] != '#') {
                *error = "named resource " + type + "/" + name;
                return out;
            }
            ResEntry e;
            e.type = static_cast<uint32_t>(std::stoul(type.substr(1)));
            e.name = static_cast<uint32_t>(std::stoul(name.substr(1)));
            const auto* d = bytes.data() + start + header_size;
            e.data.assign(d, d + data_size);
            out.push_back(e);
        }
        r.p = start + header_size + data_size;
        r.align4();
    }
    return out;
}

// String table blocks: block n holds ids (n-1)*16 to (n-1)*16+15, each a counted wide text.
std::map<UINT, std::string> strings_of(const std::vector<ResEntry>& res) {
    std::map<UINT, std::string> out;
    for (const ResEntry& e : res) {
        if (e.type != 6) continue;
        Reader r{e.data, 0};
        for (UINT i = 0; i < 16; ++i) {
            const uint16_t n = r.u16();
            std::string s;
            for (uint16_t k = 0; k < n; ++k) s += static_cast<char>(r.u16());
            if (n) out[(e.name - 1) * 16 + i] = s;
        }
        EXPECT_TRUE(r.ok) << "string block " << e.name;
    }
    return out;
}

struct CompiledItem {
    uint32_t style = 0, id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string cls, text;
};
struct CompiledDialog {
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    std::vector<CompiledItem> items;
};

// The extended dialog template layout.
std::map<int, CompiledDialog> dialogs_of(const std::vector<ResEntry>& res) {
    std::map<int, CompiledDialog> out;
    for (const ResEntry& e : res) {
        if (e.type != 5) continue;
        Reader r{e.data, 0};
        CompiledDialog d;
        EXPECT_EQ(r.u16(), 1);       // version
        EXPECT_EQ(r.u16(), 0xFFFF);  // extended template
        r.u32();                     // help id
        r.u32();                     // extended style
        d.style = r.u32();
        const uint16_t count = r.u16();
        d.x = r.s16();
        d.y = r.s16();
        d.cx = r.s16();
        d.cy = r.s16();
        r.sz_or_ord();  // menu
        r.sz_or_ord();  // class
        d.caption = r.wide();
        if (d.style & 0x40) {  // DS_SETFONT: size, weight, italic + charset, face
            r.u16();
            r.u16();
            r.u16();
            r.wide();
        }
        for (uint16_t i = 0; i < count && r.ok; ++i) {
            r.align4();
            CompiledItem it;
            r.u32();  // help id
            r.u32();  // extended style
            it.style = r.u32();
            it.x = r.s16();
            it.y = r.s16();
            it.cx = r.s16();
            it.cy = r.s16();
            it.id = r.u32();
            it.cls = r.sz_or_ord();
            it.text = r.sz_or_ord();
            const uint16_t extra = r.u16();
            r.p += extra;
            static const std::map<std::string, std::string> ordinals = {
                {"#128", "button"}, {"#129", "edit"}, {"#130", "static"}, {"#131", "listbox"},
                {"#132", "scrollbar"}, {"#133", "combobox"}};
            for (char& c : it.cls) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (ordinals.count(it.cls)) it.cls = ordinals.at(it.cls);
            d.items.push_back(it);
        }
        EXPECT_TRUE(r.ok) << "dialog " << e.name;
        out[static_cast<int>(e.name)] = d;
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void expect_same_dialog(const sim::DialogTemplate& t, const CompiledDialog& c) {
    SCOPED_TRACE("dialog " + std::to_string(t.id));
    EXPECT_EQ(c.caption, t.caption);
    EXPECT_EQ(c.style, t.style());
    EXPECT_EQ(c.x, t.x);
    EXPECT_EQ(c.y, t.y);
    EXPECT_EQ(c.cx, t.cx);
    EXPECT_EQ(c.cy, t.cy);
    ASSERT_EQ(c.items.size(), t.items.size());
    for (size_t i = 0; i < t.items.size(); ++i) {
        const sim::DialogItem& a = t.items[i];
        const CompiledItem& b = c.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(a.id));
        EXPECT_EQ(b.id, static_cast<uint32_t>(a.id));
        EXPECT_EQ(b.cls, lower(a.window_class()));
        EXPECT_EQ(b.text, a.text);
        char styles[64];
        std::snprintf(styles, sizeof styles, "compiled 0x%08x, simulated 0x%08x", b.style, a.style());
        EXPECT_EQ(b.style, a.style()) << styles;
        EXPECT_EQ(b.x, a.x);
        EXPECT_EQ(b.y, a.y);
        EXPECT_EQ(b.cx, a.cx);
        EXPECT_EQ(b.cy, a.cy);
    }
}

TEST(ResourceCompiler, ModuleStringsAndDialogsMatchTheSimulatedOnes) {
    if (!have_windres()) GTEST_SKIP() << "i686-w64-mingw32-windres is not installed";
    const std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    std::string output;
    const std::vector<uint8_t> bytes = windres(dir, source_root() + "/src/resources/rovane.rc", &output);
    ASSERT_FALSE(bytes.empty()) << output;
    std::string error;
    const std::vector<ResEntry> res = parse_res(bytes, &error);
    ASSERT_TRUE(error.empty()) << error;

    sim::World world(sim_test::config());
    const std::map<UINT, std::string> compiled = strings_of(res);
    const std::map<UINT, std::string>& simulated = world.resources().strings();
    EXPECT_EQ(compiled.size(), simulated.size());
    for (const auto& [id, text] : simulated) {
        auto it = compiled.find(id);
        ASSERT_NE(it, compiled.end()) << "string " << id << " missing from the compiled table";
        EXPECT_EQ(it->second, text) << "string " << id;
    }
    for (const auto& [id, text] : compiled) EXPECT_TRUE(simulated.count(id)) << "string " << id << " only compiled";
    // The tricky ones, byte for byte.
    EXPECT_EQ(compiled.at(101), "Recorder at Host:%d ID:%d   ");
    EXPECT_EQ(compiled.at(105), "The input bin is empty.\nAdd more discs and push the Pick button.");
    EXPECT_NE(compiled.at(155).find("press the \"Laminate\" button"), std::string::npos);

    const std::map<int, CompiledDialog> dialogs = dialogs_of(res);
    EXPECT_EQ(dialogs.size(), world.resources().dialogs().size());
    for (const auto& [id, t] : world.resources().dialogs()) {
        auto it = dialogs.find(id);
        ASSERT_NE(it, dialogs.end()) << "dialog " << id << " missing from the compiled resources";
        expect_same_dialog(t, it->second);
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(ResourceCompiler, TestTemplatesCompileToTheSameControls) {
    if (!have_windres()) GTEST_SKIP() << "i686-w64-mingw32-windres is not installed";
    const std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    // The module's resource script with the test templates in place of its own.
    const std::string rc = dir + "/test.rc";
    {
        std::ofstream f(rc);
        f << "#define ROVANE_DIALOGS_INC \"test_dialogs.inc\"\n#include \"" << source_root()
          << "/src/resources/rovane.rc\"\n";
    }
    std::string output;
    const std::vector<uint8_t> bytes = windres(dir, rc, &output);
    ASSERT_FALSE(bytes.empty()) << output;
    std::string error;
    const std::vector<ResEntry> res = parse_res(bytes, &error);
    ASSERT_TRUE(error.empty()) << error;
    const std::map<int, CompiledDialog> dialogs = dialogs_of(res);
    const std::vector<sim::DialogTemplate> templates = test_dialogs();
    ASSERT_EQ(dialogs.size(), templates.size());
    for (const sim::DialogTemplate& t : templates) {
        auto it = dialogs.find(t.id);
        ASSERT_NE(it, dialogs.end()) << "dialog " << t.id;
        expect_same_dialog(t, it->second);
    }
    // Spot checks against the resource format itself, not only against the simulated side.
    const CompiledDialog& d = dialogs.at(902);
    EXPECT_EQ(d.caption, "Controls \"All\" Kinds");
    EXPECT_EQ(d.items[3].id, 1105u);
    EXPECT_EQ(d.items[3].style & 0x10000000u, 0u);  // hidden: no WS_VISIBLE
    EXPECT_EQ(d.items[4].style & 0x18000000u, 0x18000000u);  // disabled, visible
    EXPECT_EQ(d.items[0].id, 0xFFFFFFFFu);  // IDC_STATIC
    EXPECT_EQ(d.items[7].cls, "msctls_updown32");
    EXPECT_EQ(d.items[14].text, "Line one\nLine \\two\\");
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
