// The disc printer on its own, in a whole machine without the module: documents handed to its
// spooler printer print in the print time and push the tray out with the disc; the robot's
// status shows the printer's state and tray; the ink answers in both layouts and the driver's
// device mode; the faults; the label application printing on it; the print files.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/print_files.h"
#include "printer/print_file.h"
#include "support/sim_test.h"
#include "win32/files.h"

namespace {

using sim::kSecond;

sim::AutoloaderConfig machine(const std::string& printer) {
    sim::AutoloaderConfig c;
    c.seed = sim_test::seed();
    c.disc_printer = printer;
    c.printer_config.print_time = 30 * kSecond;
    c.label_app = true;
    return c;
}

// Spools one raw document to the printer, as the module's print thread does. True when it went
// through every call.
bool spool(const std::string& printer, const std::string& name, const std::string& bytes) {
    HANDLE h = nullptr;
    if (!OpenPrinterA(const_cast<LPSTR>(printer.c_str()), &h, nullptr)) return false;
    DOC_INFO_1A di = {const_cast<LPSTR>(name.c_str()), nullptr, const_cast<LPSTR>("RAW")};
    DWORD written = 0;
    const bool ok = StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)) && StartPagePrinter(h) &&
                    WritePrinter(h, const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written) &&
                    EndPagePrinter(h) && EndDocPrinter(h);
    ClosePrinter(h);
    return ok;
}

// The printer's state and tray as the robot's status frame reports them: "I O", "B I" ...
std::string seen(const sim::Robot& robot) {
    const std::string f = robot.status_frame();
    return std::string(1, f[6]) + " " + f[7];
}

// The "MARLUNE" value read through the spooler, as the module reads it (after writing one 0x00).
std::vector<uint8_t> read_ink(const std::string& printer, DWORD* result) {
    HANDLE h = nullptr;
    PRINTER_DEFAULTSA pd = {nullptr, nullptr, 0xF000C};
    std::vector<uint8_t> out(100);
    if (!OpenPrinterA(const_cast<LPSTR>(printer.c_str()), &h, &pd)) {
        *result = GetLastError();
        return {};
    }
    BYTE zero = 0;
    EXPECT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), REG_BINARY, &zero, 1), static_cast<DWORD>(ERROR_SUCCESS));
    DWORD type = 0, needed = 0;
    *result = GetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), &type, out.data(), 100, &needed);
    ClosePrinter(h);
    EXPECT_TRUE(*result != ERROR_SUCCESS || type == REG_BINARY);
    out.resize(*result == ERROR_SUCCESS ? needed : 0);
    return out;
}

uint32_t be32(const std::vector<uint8_t>& a, size_t at) {
    return static_cast<uint32_t>(a[at]) << 24 | static_cast<uint32_t>(a[at + 1]) << 16 |
           static_cast<uint32_t>(a[at + 2]) << 8 | a[at + 3];
}

// Puts a new disc on the printer's tray and brings the tray in, as the robot leaves it.
sim::DiscId disc_in_printer(sim::Autoloader& m) {
    m.printer->set_tray_in(false);
    const sim::DiscId id = m.robot->place_new_disc('S');
    m.printer->set_tray_in(true);
    return id;
}

TEST(DiscPrinter, PrintsEachDocumentOnTheDiscAndPushesItOut) {
    sim::Autoloader m(machine("Pellan IV"));
    sim::DiscPrinter& p = *m.printer;
    const std::string file = sim::make_print_file({});
    m.world.files().mkdir("C:\\Labels");
    m.world.files().write_file("C:\\Labels\\disc.std", sim::make_print_file({sim::PrintFileKind::Label}));
    sim::DiscId disc = 0;
    sim_test::run_in(m.world, [&] {
        // With the tray out and empty: the printer pulls it in, prints on nothing, pushes it out.
        p.set_tray_in(false);
        ASSERT_TRUE(spool("Pellan IV", "blank", "y"));
        Sleep(100);
        EXPECT_EQ(seen(*m.robot), "B O") << "pulling the tray in";
        Sleep(35000);
        EXPECT_EQ(seen(*m.robot), "I O");
        EXPECT_EQ(p.blank_prints(), 1u);

        disc = m.robot->place_new_disc('S');
        ASSERT_NE(disc, 0u) << m.robot->describe();
        p.set_tray_in(true);
        EXPECT_EQ(seen(*m.robot), "I I");
        ASSERT_TRUE(spool("Pellan IV", "C:\\Labels\\a.prn", file));
        Sleep(29000);
        EXPECT_EQ(seen(*m.robot), "B I") << "printing with the tray in";
        EXPECT_EQ(m.robot->disc(disc)->prints, 0u);
        Sleep(1500);
        EXPECT_EQ(seen(*m.robot), "B I") << "pushing the tray out";
        Sleep(2000);
        EXPECT_EQ(seen(*m.robot), "I O");
        EXPECT_EQ(m.robot->place_of(disc), "S");
        EXPECT_EQ(m.robot->disc(disc)->prints, 1u);

        // A second document for the same disc, arriving while the robot has the tray travelling
        // in: it prints once the tray stops, and the disc is printed twice.
        m.robot->printer().tray_command(sim::PrinterLink::TrayCommand::In);
        ASSERT_TRUE(spool("Pellan IV", "again", "x"));
        Sleep(35000);
        EXPECT_EQ(seen(*m.robot), "I O");

        // A third, sent by the label application, prints the same way under the file's own name.
        EXPECT_EQ(m.label_app->print(const_cast<BSTR>(L"C:\\Labels\\disc.std"), const_cast<BSTR>(L"Pellan IV"),
                                     const_cast<BSTR>(L"Pellan IV Driver"), const_cast<BSTR>(L"LPT1:")),
                  S_OK);
        Sleep(35000);
        EXPECT_EQ(seen(*m.robot), "I O");
    });
    EXPECT_EQ(p.documents(), 4u);
    EXPECT_EQ(p.prints(), 4u);
    ASSERT_EQ(p.recent_documents().size(), 4u);
    EXPECT_EQ(p.recent_documents()[1].name, "C:\\Labels\\a.prn");
    EXPECT_EQ(std::string(p.recent_documents()[1].bytes.begin(), p.recent_documents()[1].bytes.end()), file);
    EXPECT_EQ(p.recent_documents()[3].name, "disc.std");
    EXPECT_EQ(p.print_count(disc), 3u);
    EXPECT_EQ(m.robot->disc(disc)->prints, 3u);
    EXPECT_EQ(p.ink_used()[0], 4 * p.config().ink_per_print[0]);
    const std::string broken = m.check_invariants(false);
    EXPECT_NE(broken.find("disc " + std::to_string(disc) + " printed 3 times"), std::string::npos) << broken;
}

TEST(DiscPrinter, AnswersSixInkCountersWithWarningsAsATessikAndKeepsTheCartridgeInItsDeviceMode) {
    sim::AutoloaderConfig tessik = machine("Tessik 6");
    tessik.printer_config.ink = {1, 2, 3, 4, 5, 6};
    tessik.printer_config.ink_per_print = {10, 10, 10, 10, 10, 10};
    tessik.printer_config.low_level = {11, 0};  // the left cartridge warns after one print
    tessik.printer_config.driver_cartridge_value = 2;
    tessik.printer_config.print_time = kSecond;
    sim::Autoloader b(tessik);
    sim_test::run_in(b.world, [&] {
        DWORD r = 0;
        std::vector<uint8_t> ans = read_ink("Tessik 6", &r);
        ASSERT_GE(ans.size(), 63u);
        EXPECT_EQ(ans[1], ans.size() - 2);
        EXPECT_EQ(ans[3], 3) << "colour and black";
        EXPECT_EQ(be32(ans, 5), 1u);
        EXPECT_EQ(be32(ans, 25), 6u);
        EXPECT_EQ(ans[4], 0);
        EXPECT_EQ(ans[62], 0);
        ASSERT_TRUE(spool("Tessik 6", "t", "z"));
        Sleep(5000);
        ans = read_ink("Tessik 6", &r);
        EXPECT_EQ(be32(ans, 5), 11u);
        EXPECT_EQ(ans[4], 0x01) << "left cartridge low";
        EXPECT_EQ(ans[62], 0x10) << "the printer asks for the warning";
        EXPECT_EQ(read_ink("Tessik 6", &r)[62], 0) << "once";

        // The driver's cartridge value, 140 bytes into the private part of the device mode.
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Tessik 6"), &h, nullptr));
        DWORD needed = 0;
        GetPrinterA(h, 2, nullptr, 0, &needed);
        std::vector<BYTE> info(needed);
        ASSERT_TRUE(GetPrinterA(h, 2, info.data(), needed, &needed));
        ClosePrinter(h);
        const DEVMODEA* dm = reinterpret_cast<PRINTER_INFO_2A*>(info.data())->pDevMode;
        ASSERT_NE(dm, nullptr);
        ASSERT_GE(dm->dmDriverExtra, 144);
        uint32_t value = 0;
        std::memcpy(&value, reinterpret_cast<const BYTE*>(dm) + dm->dmSize + 140, 4);
        EXPECT_EQ(value, 2u);
    });
}

// Four ink counters, as most printers answer, and a failed ink read; the print faults as the
// robot's status shows them.
TEST(DiscPrinter, AnswersFourInkCountersAndFaultsShowThroughTheRobotsStatus) {
    sim::AutoloaderConfig pellan = machine("Pellan IV");
    pellan.printer_config.ink = {100, 200, 300, 400, 0, 0};
    sim::Autoloader m(pellan);
    sim::DiscPrinter& p = *m.printer;
    const sim::DiscId disc = disc_in_printer(m);
    sim_test::run_in(m.world, [&] {
        DWORD r = 0;
        const std::vector<uint8_t> ans = read_ink("Pellan IV", &r);
        ASSERT_EQ(r, static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_GE(ans.size(), 25u);
        EXPECT_EQ(ans[1], ans.size() - 2);
        EXPECT_EQ(ans[2], 2) << "colour and black";
        EXPECT_EQ(be32(ans, 4), 100u);
        EXPECT_EQ(be32(ans, 16), 400u);
        p.fail_ink_reads(1);
        read_ink("Pellan IV", &r);
        EXPECT_NE(r, static_cast<DWORD>(ERROR_SUCCESS));
        read_ink("Pellan IV", &r);
        EXPECT_EQ(r, static_cast<DWORD>(ERROR_SUCCESS)) << "one failed read only";

        // A print that stops with a printer error: error "B" through the robot, idle, tray in.
        p.fail_next_prints(1, sim::PrintFault::Error);
        ASSERT_TRUE(spool("Pellan IV", "e", "1"));
        Sleep(16000);
        EXPECT_EQ(m.robot->error(), 'B');
        EXPECT_EQ(seen(*m.robot), "I I");
        Sleep(30000);
        EXPECT_EQ(seen(*m.robot), "I I") << "never pushed out";
        m.robot->press_pause_and_pick();

        // A print that never starts: idle with the tray in.
        p.fail_next_prints(1, sim::PrintFault::StaysIdle);
        ASSERT_TRUE(spool("Pellan IV", "i", "2"));
        Sleep(60000);
        EXPECT_EQ(seen(*m.robot), "I I");

        // A print that stays busy until the fault is cleared; the tray does not answer commands.
        p.fail_next_prints(1, sim::PrintFault::StaysBusy);
        ASSERT_TRUE(spool("Pellan IV", "b", "3"));
        Sleep(60000);
        m.robot->printer().tray_command(sim::PrinterLink::TrayCommand::Out);
        Sleep(5000);
        EXPECT_EQ(seen(*m.robot), "B I");
        p.clear_faults();
        EXPECT_EQ(seen(*m.robot), "I I");

        // Held busy: a document waits, and prints once the printer is let go.
        p.set_busy(true);
        ASSERT_TRUE(spool("Pellan IV", "w", "4"));
        Sleep(60000);
        EXPECT_EQ(seen(*m.robot), "B I");
        EXPECT_EQ(p.documents_waiting(), 1u);
        p.set_busy(false);
        Sleep(33000);
        EXPECT_EQ(seen(*m.robot), "I O");
    });
    EXPECT_EQ(p.failed_prints(), 3u);
    EXPECT_EQ(p.prints(), 1u);
    EXPECT_EQ(p.print_count(disc), 1u);
    EXPECT_EQ(p.failed_print_count(disc), 3u);
    EXPECT_EQ(p.ink_requests(), 3u);
}

// A printer that reports a disc on its tray: "I" for its tray in and empty, "D" in with a disc.
// Falling silent in the middle of a print: busy with a tray that does not answer,
// the print never ends (a failed print of its disc), the tray ignores its commands and the disc
// stays on it; later documents wait.
TEST(DiscPrinter, ReportsADiscInsideAndFallsSilentMidPrint) {
    sim::AutoloaderConfig c = machine("Pellan IV");
    c.printer_config.report_disc_in = true;
    sim::Autoloader m(c);
    sim::DiscPrinter& p = *m.printer;
    EXPECT_EQ(seen(*m.robot), "I I");
    const sim::DiscId disc = disc_in_printer(m);
    EXPECT_EQ(seen(*m.robot), "I D");
    sim_test::run_in(m.world, [&] {
        ASSERT_TRUE(spool("Pellan IV", "one", "1"));
        Sleep(10000);
        EXPECT_EQ(seen(*m.robot), "B D") << "printing";
        p.go_silent();
        EXPECT_EQ(seen(*m.robot), "B X");
        m.robot->printer().tray_command(sim::PrinterLink::TrayCommand::Out);
        ASSERT_TRUE(spool("Pellan IV", "two", "2"));
        Sleep(120000);
        EXPECT_EQ(seen(*m.robot), "B X");
        EXPECT_EQ(p.documents_waiting(), 1u);
        EXPECT_FALSE(m.robot->printer().has_disc()) << "the tray stayed in";
    });
    EXPECT_EQ(p.prints(), 0u);
    EXPECT_EQ(p.failed_prints(), 1u);
    EXPECT_EQ(p.failed_print_count(disc), 1u);
    EXPECT_EQ(p.print_count(disc), 0u);
    EXPECT_TRUE(p.had_on_tray(disc));
    EXPECT_EQ(m.robot->place_of(disc), "S");
}

// Each kind of file as the module's own header rules classify it.
TEST(PrintFiles, EachKindHasItsHeaderAndInkFigures) {
    const std::pair<sim::PrintFileKind, int> kinds[] = {
        {sim::PrintFileKind::PellanIv, 0}, {sim::PrintFileKind::PellanPro, 1}, {sim::PrintFileKind::OpticalDiscPrinter, 2},
        {sim::PrintFileKind::Varrow, 3},   {sim::PrintFileKind::Varrow2, 4},   {sim::PrintFileKind::Tessik6, 5},
        {sim::PrintFileKind::Short, 100},  {sim::PrintFileKind::Wrong, 100}};
    for (const auto& [kind, type] : kinds) {
        sim::PrintFileRecipe s;
        s.kind = kind;
        const std::string f = sim::make_print_file(s);
        EXPECT_EQ(ClassifyPrintHeader(reinterpret_cast<const BYTE*>(f.data()), static_cast<DWORD>(f.size())), type)
            << sim::print_file_kind_name(kind);
    }
    sim::PrintFileRecipe s;
    s.kind = sim::PrintFileKind::Tessik6;
    s.size = 100;
    s.use = {0x010203, 0, 0, 0, 0, 0x0A0B0C};
    s.low_level = 0x11223344;
    const std::string t = sim::make_print_file(s);
    ASSERT_EQ(t.size(), 100u);
    EXPECT_EQ(t.substr(76, 2), "\x1B\x08");
    EXPECT_EQ(t.substr(80, 3), "\x01\x02\x03");
    EXPECT_EQ(t.substr(95, 3), "\x0A\x0B\x0C");
    EXPECT_EQ(t.substr(6, 4), "\x11\x22\x33\x44");
    s.kind = sim::PrintFileKind::PellanIv;
    s.cartridge = 0;
    s.use[3] = 0x050607;
    const std::string p = sim::make_print_file(s);
    EXPECT_EQ(p[4], 0);
    EXPECT_EQ(p.substr(11, 3), "\x05\x06\x07") << "black only: the black use first";
    EXPECT_EQ(sim::make_print_file({sim::PrintFileKind::Short}).size(), 31u);
    sim::PrintFileKind k;
    EXPECT_TRUE(sim::print_file_kind("tessik-6", &k) && k == sim::PrintFileKind::Tessik6);
    EXPECT_FALSE(sim::print_file_kind("tessik", &k));
}

}  // namespace
