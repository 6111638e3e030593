// Ink levels: the disc printer's driver answering "MARLUNE" with its ink counters, the levels
// and cartridge lines of the printing dialog, the estimate of discs before low ink from the
// print file's figures, and the cartridge warnings a "Tessik 6" asks the module to show.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/job_state.h"
#include "harness/print_files.h"
#include "printer/ink_levels.h"
#include "resources/resource.h"
#include "support/dialog_hands.h"
#include "support/module_world.h"
#include "support/module_state.h"
#include "support/printer_world.h"
#include "win32/files.h"
#include "win32/spooler.h"

namespace {

using sim_test::run_in;
using Bytes = std::vector<uint8_t>;

const uint32_t M = 1000000;

// A disc printer's driver: answers "MARLUNE" with the bytes it was given, or not at all.
struct InkDriver : sim::PrinterModel {
    Bytes answer;
    int silent_reads = 0;  // reads that fail before it answers (-1: always)
    uint32_t requests = 0, reads = 0;

    uint32_t set_data(const std::string& name, uint32_t type, const Bytes& bytes) override {
        if (name == "MARLUNE" && type == REG_BINARY && bytes == Bytes{0x00}) ++requests;
        return ERROR_SUCCESS;
    }
    uint32_t get_data(const std::string& name, uint32_t* type, Bytes* out) override {
        if (name != "MARLUNE") return ERROR_FILE_NOT_FOUND;
        ++reads;
        if (silent_reads != 0) {
            if (silent_reads > 0) --silent_reads;
            return ERROR_FILE_NOT_FOUND;
        }
        *type = REG_BINARY;
        *out = answer;
        return ERROR_SUCCESS;
    }
};

void put_be(Bytes& b, size_t at, uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i, value >>= 8) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value);
}

// The answer layouts: byte 1 is the length minus 2.
Bytes tessik_answer(uint8_t cartridges, const std::vector<uint32_t>& counters, uint8_t warn = 0, uint8_t error = 0) {
    Bytes b(64, 0);
    b[1] = static_cast<uint8_t>(b.size() - 2);
    b[3] = cartridges;
    b[4] = warn;
    for (size_t i = 0; i < counters.size(); ++i) put_be(b, 5 + 4 * i, counters[i], 4);
    b[62] = error;
    return b;
}
Bytes other_answer(uint8_t cartridges, const std::vector<uint32_t>& counters) {
    Bytes b(25, 0);
    b[1] = static_cast<uint8_t>(b.size() - 2);
    b[2] = cartridges;
    for (size_t i = 0; i < counters.size(); ++i) put_be(b, 4 + 4 * i, counters[i], 4);
    return b;
}

// A print file from the world's generator (harness/print_files.h; its layouts: PrintFiles in
// disc_printer_test): "Pellan IV" with its cartridge byte (0: black only, its use the fourth
// counter), "Pellan PRO" (the black use the fourth counter, its low level the second), "Tessik 6".
Bytes print_file(sim::PrintFileKind kind, uint8_t cartridge, sim::InkCounters use, uint32_t low, uint32_t low_2 = 0) {
    sim::PrintFileRecipe r;
    r.kind = kind, r.cartridge = cartridge, r.use = use, r.low_level = low, r.low_level_2 = low_2;
    const std::string f = sim::make_print_file(r);
    return Bytes(f.begin(), f.end());
}
const sim::PrintFileKind IV = sim::PrintFileKind::PellanIv, PRO = sim::PrintFileKind::PellanPro,
                         TESSIK = sim::PrintFileKind::Tessik6;

// The driver's private device-mode part with the cartridge-type value 140 bytes in.
Bytes driver_private(uint32_t value) {
    Bytes p(160, 0);
    for (int i = 0; i < 4; ++i) p[140 + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    return p;
}

struct InkWorld {
    sim::World world{sim_test::config()};
    InkWorld() { sim_test::prepare_module(world); }

    std::shared_ptr<InkDriver> install(const std::string& name, const Bytes& answer, int driver_value = -1) {
        auto driver = std::make_shared<InkDriver>();
        driver->answer = answer;
        sim::PrinterConfig pc;
        pc.name = name;
        pc.model = driver;
        if (driver_value >= 0) pc.devmode = sim::make_devmode(name, driver_private(static_cast<uint32_t>(driver_value)));
        world.spooler().add_printer(pc);
        return driver;
    }
    std::vector<std::string> files;
    std::string file(const Bytes& bytes) {
        files.push_back(std::string(sim::kDataFolder) + "ink" + std::to_string(files.size() + 1) + ".prn");
        world.files().write_file(files.back(), std::string(bytes.begin(), bytes.end()));
        return files.back();
    }
    size_t open_files() {
        size_t n = 0;
        for (const std::string& f : files) n += world.files().open_handles(f);
        return n;
    }
};

// One ink line as the operator sees it: its value, or "off" when value, label and sign are all
// disabled; "mixed" when they disagree.
std::string ink_line(sim::World& world, HWND dlg, int value, int label, int sign) {
    const auto v = world.ui().control(dlg, value), l = world.ui().control(dlg, label), s = world.ui().control(dlg, sign);
    if (v->enabled && l->enabled && s->enabled) return v->text;
    if (!v->enabled && !l->enabled && !s->enabled) return "off:" + v->text;
    return "mixed";
}
std::string discs_line(sim::World& world, HWND dlg) {
    const auto l = world.ui().control(dlg, IDC_DISCS_BEFORE_LOW_LABEL), v = world.ui().control(dlg, IDC_DISCS_BEFORE_LOW);
    if (!l->visible && !v->visible && !l->enabled && !v->enabled) return "hidden";
    if (l->visible && v->visible && l->enabled && v->enabled) return v->text;
    return "mixed";
}

TEST(InkLevels, DriverAnswersBecomeTheDialogsLevelsLabelAndEstimate) {
    InkWorld w;
    const Bytes many_discs = print_file(PRO, 0, {1, 1, 1}, 50 * M);  // far beyond 32000
    const Bytes colour_file = print_file(IV, 1, {1000, 1000, 1000}, 10 * M);  // "Pellan IV" colour
    struct Case {
        const char* what;
        const char* printer;
        Bytes answer;
        int driver_value;       // -1: no device mode
        Bytes file;             // empty: none
        const char* first;      // ink line 1190 as ink_line shows it
        const char* second;
        const char* label;      // 1187
        const char* discs;
        const char* log;
    };
    const Case cases[] = {
        {"Tessik 6, colour and black, counters 5 and 6 unused, driver value 2", "Tessik 6",
         tessik_answer(3, {73500000, 0, 0, 61 * M, 0, 0}), 2, {}, "90", "90", "Black:", "hidden", "Got Ink Levels"},
        {"Tessik 6, counter 6 at 1: a photo cartridge", "Tessik 6", tessik_answer(3, {70 * M, 0, 0, 33500000, 0, 1}), 2,
         {}, "90", "90", "Photo:", "hidden", "Got Ink Levels"},
        {"Tessik 6, driver value 1: a photo cartridge", "Tessik 6", tessik_answer(3, {0, 0, 0, 0, 0, 0}), 1, {}, "100",
         "100", "Photo:", "hidden", "Got Ink Levels"},
        {"Tessik 6, driver value unreadable: a photo cartridge", "Tessik 6", tessik_answer(3, {0, 0, 0, 0, 0, 0}), -1,
         {}, "100", "100", "Photo:", "hidden", "Got Ink Levels"},
        {"Tessik 6, two colour cartridges", "Tessik 6", tessik_answer(4, {0, 0, 0, 350 * M, 7 * M, 0}), -1, {}, "100",
         "50", "Color:", "hidden", "Got Ink Levels"},
        {"colour 100M/350M/0 on another printer", "Optical Disc Printer", other_answer(2, {100 * M, 350 * M, 0, 0}), -1,
         {}, "50", "100", "Black:", "hidden", "Got Ink Levels"},
        {"Pellan IV capacities; black used beyond its capacity", "Pellan IV", other_answer(3, {202500000, 0, 0, 600 * M}),
         -1, {}, "50", "0", "Black:", "hidden", "Got Ink Levels"},
        {"black only: the colour line stays off", "Optical Disc Printer", other_answer(0, {0, 0, 0, 305 * M}), -1, {},
         "off: ", "50", "Black:", "hidden", "Got Ink Levels"},
        {"colour only: the black line stays off", "Optical Disc Printer", other_answer(1, {350 * M, 0, 0, 0}), -1, {},
         "50", "off: ", "Black:", "hidden", "Got Ink Levels"},
        {"an estimate beyond 32000 shows 32000", "Optical Disc Printer", other_answer(2, {0, 0, 0, 0}), -1, many_discs,
         "100", "100", "Black:", "32000", "Got Ink Levels"},
        {"a colour file for a black-only Pellan IV: no estimate", "Pellan IV", other_answer(0, {0, 0, 0, 0}), -1,
         colour_file, "off: ", "100", "Black:", "hidden", "Got Ink Levels"},
        {"no answer", "Optical Disc Printer", {}, -1, many_discs, "1", "1", "Black:", "hidden",
         "Unable to get ink levels"},
    };
    run_in(w.world, [&] {
        // Without a dialog the levels wait about 2 s for it, then go nowhere.
        w.install("Optical Disc Printer", other_answer(2, {0, 0, 0, 0}));
        DWORD start = GetTickCount();
        EXPECT_EQ(UpdateInkLevels("Optical Disc Printer", nullptr), 1);
        EXPECT_GE(GetTickCount() - start, 2000u);
        EXPECT_LT(GetTickCount() - start, 2200u);

        bool minimise = true;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            std::shared_ptr<InkDriver> driver = w.install(c.printer, c.answer, c.driver_value);
            if (c.answer.empty()) driver->silent_reads = -1;
            const std::string file = c.file.empty() ? std::string() : w.file(c.file);
            sim_test::with_print_dialogs_minimised(minimise);
            const size_t mark = sim_test::log_size(w.world);
            StartPrintingDialog();
            start = GetTickCount();
            EXPECT_EQ(UpdateInkLevels(c.printer, file.empty() ? nullptr : file.c_str()), c.answer.empty() ? 0 : 1);
            Sleep(200);
            HWND dlg = w.world.ui().find_dialog(IDD_PRINTING);
            ASSERT_NE(dlg, nullptr);
            EXPECT_EQ(w.world.ui().window(dlg)->minimised, minimise);
            EXPECT_EQ(ink_line(w.world, dlg, IDC_INK_FIRST_VALUE, IDC_INK_FIRST_LABEL, IDC_INK_FIRST_PERCENT), c.first);
            EXPECT_EQ(ink_line(w.world, dlg, IDC_INK_SECOND_VALUE, IDC_INK_SECOND_LABEL, IDC_INK_SECOND_PERCENT),
                      c.second);
            EXPECT_EQ(w.world.ui().control(dlg, IDC_INK_SECOND_LABEL)->text, c.label);
            EXPECT_EQ(discs_line(w.world, dlg), c.discs);
            EXPECT_EQ(sim_test::count_lines(sim_test::log_since(w.world, mark), c.log), 1);
            if (c.answer.empty()) {
                EXPECT_EQ(driver->reads, 44u) << "11 reads of 4 attempts";
                EXPECT_GE(GetTickCount() - start, 11 * 3000u + 10 * 95u);
            }
            ClosePrintingDialog();
            sim_test::wait_closed(w.world, IDD_PRINTING, dlg);
            EXPECT_EQ(g_hPrintingDlg, nullptr);
            minimise = !minimise;
        }
    });
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

TEST(InkLevels, EstimateFromThePrintFilesFigures) {
    InkWorld w;
    struct Case {
        const char* what;
        Bytes file;  // empty: no such file
        DWORD set;
        std::vector<LONG> used;
        int expected;
    };
    const Case cases[] = {
        {"Pellan IV black", print_file(IV, 0, {0, 0, 0, 100}, 101000), INK_SET_BLACK, {0, 0, 0, 1000}, 1000},
        {"Pellan IV black beyond the low level", print_file(IV, 0, {0, 0, 0, 100}, 101000), INK_SET_BLACK,
         {0, 0, 0, 101001}, 0},
        {"Pellan IV colour file, black-only printer", print_file(IV, 1, {10, 20, 0}, 11000), INK_SET_BLACK,
         {0, 0, 0, 0}, NO_INK_ESTIMATE},
        {"Pellan IV colour, counter 3 beyond the low level", print_file(IV, 1, {10, 20, 0}, 11000), INK_SET_COLOUR,
         {1000, 2000, 20000, 0}, 0},
        {"Pellan IV colour", print_file(IV, 1, {10, 20, 0}, 11000), INK_SET_COLOUR, {1000, 2000, 0, 0}, 450},
        {"Pellan IV colour and black file", print_file(IV, 2, {10, 10, 10}, 11000), INK_SET_COLOUR_BLACK,
         {0, 0, 0, 0}, NO_INK_ESTIMATE},
        {"Pellan PRO, no black use", print_file(PRO, 0, {10, 10, 10, 0}, 10000, 1000), INK_SET_COLOUR_BLACK,
         {0, 0, 0, 500}, 1000},
        {"Pellan PRO, black the limit", print_file(PRO, 0, {10, 10, 10, 5}, 10000, 1000), INK_SET_COLOUR_BLACK,
         {0, 0, 0, 500}, 100},
        {"Pellan PRO, black beyond its low level", print_file(PRO, 0, {10, 10, 10, 5}, 10000, 1000),
         INK_SET_COLOUR_BLACK, {0, 0, 0, 1001}, 0},
        {"Pellan PRO, more than 32000", print_file(PRO, 0, {1, 1, 1}, 50 * M), INK_SET_COLOUR, {0, 0, 0, 0},
         32000},
        {"Tessik colour and black", print_file(TESSIK, 0, {1, 1, 1, 2}, 1100, 400), INK_SET_COLOUR_BLACK,
         {100, 0, 0, 200}, 100},
        {"Tessik photo, counter 6 the limit", print_file(TESSIK, 0, {1, 1, 1, 1, 1, 100}, 1100, 4000),
         INK_SET_COLOUR_PHOTO, {0, 0, 0, 0, 0, 1000}, 30},
        {"Tessik photo, counter 6 beyond", print_file(TESSIK, 0, {1, 1, 1, 1, 1, 100}, 1100, 4000),
         INK_SET_COLOUR_PHOTO, {0, 0, 0, 0, 0, 4001}, 0},
        {"Tessik two colour, fresh second cartridge", print_file(TESSIK, 0, {10, 10, 0, 10, 20, 40}, 1100, 4000),
         INK_SET_TWO_COLOUR, {100, 0, 0, 0, 0, 0}, 100 + 400},
        {"Tessik two colour, second in use: the first is not looked at",
         print_file(TESSIK, 0, {10, 10, 10, 10, 0, 0}, 1100, 2000), INK_SET_TWO_COLOUR, {5000, 0, 0, 1000, 0, 0}, 100},
        {"Tessik trailer without its mark", [] {
             Bytes b = print_file(TESSIK, 0, {1, 1, 1, 2}, 1100, 400);
             b[b.size() - 23] = 0x09;
             return b;
         }(), INK_SET_COLOUR_BLACK, {0, 0, 0, 0}, NO_INK_ESTIMATE},
        {"not a printer file", Bytes(64, 0x20), INK_SET_COLOUR_BLACK, {0, 0, 0, 0}, NO_INK_ESTIMATE},
        {"shorter than a header", print_file(sim::PrintFileKind::Short, 1, {1, 1, 1}, 50 * M), INK_SET_COLOUR_BLACK,
         {0, 0, 0, 0}, NO_INK_ESTIMATE},
        {"no such file", {}, INK_SET_COLOUR_BLACK, {0, 0, 0, 0}, NO_INK_ESTIMATE},
    };
    run_in(w.world, [&] {
        for (const Case& c : cases) {
            InkData ink;
            std::memset(&ink, 0, sizeof ink);
            ink.dwCartridges = c.set;
            for (size_t i = 0; i < c.used.size(); ++i) ink.alInk[i] = c.used[i];
            const std::string file = c.file.empty() ? std::string(sim::kDataFolder) + "missing.prn" : w.file(c.file);
            sim_test::with_discs_before_ink_low(12345);
            EstimateDiscsBeforeInkLow(file.c_str(), &ink);
            EXPECT_EQ(g_iDiscsBeforeInkLow, c.expected) << c.what;
        }
        EstimateDiscsBeforeInkLow(nullptr, nullptr);
        EXPECT_EQ(g_iDiscsBeforeInkLow, NO_INK_ESTIMATE);
    });
    EXPECT_EQ(w.open_files(), 0u) << "every file closed";
}

TEST(InkLevels, TessikWarningsDriverValueAndAttempts) {
    InkWorld w;
    std::vector<sim_test::SeenBox> boxes;
    sim_test::answer_boxes(w.world, boxes, "", IDOK);
    const std::string tail =
        " is low on ink.  To change the cartridge press the \"Cartridge\" button, replace the cartridge, and press "
        "the \"Cartridge\" button again.  To ignore the warning (You will not get another warning) press the "
        "\"Tray\" button.";
    run_in(w.world, [&] {
        InkData ink;
        const std::vector<uint32_t> used = {0, 0, 0, 0, 0, 0};
        for (uint8_t warn : {3, 1, 2}) {
            w.install("Tessik 6", tessik_answer(1, used, warn, 0x10));
            const size_t mark = sim_test::log_size(w.world);
            EXPECT_EQ(ReadInkData("Tessik 6", &ink), 1);
            EXPECT_EQ(ink.dwCartridges, static_cast<DWORD>(INK_SET_COLOUR));
            EXPECT_EQ(sim_test::log_since(w.world, mark),
                      std::vector<std::string>({"Ink Low Check Error 10, Warn " + std::to_string(warn)}));
        }
        w.install("Tessik 6", tessik_answer(2, used, 3, 0x01));
        EXPECT_EQ(ReadInkData("Tessik 6", &ink), 1) << "no warning asked for";
        EXPECT_EQ(ink.dwCartridges, static_cast<DWORD>(INK_SET_BLACK));

        // Invalid answers: each of the four attempts fails, 1 s apart.
        const Bytes wrong_length = [] {
            Bytes b = other_answer(2, {1, 2, 3, 4});
            b[1] = 22;
            return b;
        }();
        for (const Bytes& answer : {tessik_answer(5, used), other_answer(4, {}), wrong_length, Bytes(24, 0)}) {
            std::shared_ptr<InkDriver> d = w.install(answer.size() == 64 ? "Tessik 6" : "Pellan IV", answer);
            const DWORD start = GetTickCount();
            ink.dwCartridges = 9;
            EXPECT_EQ(ReadInkData(answer.size() == 64 ? "Tessik 6" : "Pellan IV", &ink), 0);
            EXPECT_EQ(ink.dwCartridges, 0u);
            EXPECT_EQ(d->reads, 4u);
            EXPECT_GE(GetTickCount() - start, 3000u);
        }
        std::shared_ptr<InkDriver> late = w.install("Pellan IV", other_answer(1, {7, 8, 9, 10}));
        late->silent_reads = 2;
        EXPECT_EQ(ReadInkData("Pellan IV", &ink), 1);
        EXPECT_EQ(late->reads, 3u);
        EXPECT_EQ(late->requests, 3u) << "each attempt asks before it reads";
        EXPECT_EQ(ink.alInk[1], 8);
        EXPECT_EQ(ink.alInk[3], 10);
        EXPECT_EQ(ReadInkData(nullptr, &ink), 0);

        // The driver's value in its part of the device mode.
        DWORD value = 0;
        w.install("Varrow 1200", {}, 0x01020304);
        EXPECT_EQ(ReadDriverCartridgeType("Varrow 1200", &value), 1);
        EXPECT_EQ(value, 0x01020304u);
        w.install("Tessik 6 Plus", {}, 2);
        EXPECT_EQ(ReadDriverCartridgeType("Tessik 6 Plus", &value), 1);
        EXPECT_EQ(value, 2u);
        w.install("Pellan IV", {}, 2);
        EXPECT_EQ(ReadDriverCartridgeType("Pellan IV", &value), 0) << "not a Varrow or Tessik 6";
        w.install("Varrow 1200", {});
        EXPECT_EQ(ReadDriverCartridgeType("Varrow 1200", &value), 0) << "no device mode";
        EXPECT_EQ(ReadDriverCartridgeType("Varrow 9", &value), 0) << "no such printer";
    });
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text,
              "Both cartridges are low on ink.  To change the cartridge press the \"Cartridge\" button, replace the "
              "cartridges, and press the \"Cartridge\" button again.  To ignore the warning (You will not get another "
              "warning) press the \"Tray\" button.");
    EXPECT_EQ(boxes[1].text, "The left cartridge" + tail);
    EXPECT_EQ(boxes[2].text, "The right cartridge" + tail);
    for (const sim_test::SeenBox& b : boxes) {
        EXPECT_EQ(b.caption, "Warning");
        EXPECT_EQ(b.flags, static_cast<UINT>(MB_OK));
        EXPECT_EQ(b.owner, nullptr);
    }
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

}  // namespace
