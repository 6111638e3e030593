// The print spooler as the module meets it: printer enumeration and description with the
// two-call size protocol, raw documents reaching the printer's device model, printer-data values
// with their size protocol and access rights, cancelled documents, handle errors and injected
// faults.
#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/spooler.h"

namespace {

template <class F>
void run_in(sim::World& world, F body) {
    world.spawn("test", body);
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

// A device model that keeps what the spooler hands it and answers printer-data reads from a
// table of values.
struct RecordingModel : sim::PrinterModel {
    std::vector<sim::SpoolDocument> docs;
    std::vector<sim::Micros> seen_at;
    std::map<std::string, std::vector<uint8_t>> values;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> writes;
    uint32_t status_bits = 0;

    void on_document(const sim::SpoolDocument& doc) override {
        docs.push_back(doc);
        seen_at.push_back(sim::kernel().now());
    }
    uint32_t get_data(const std::string& name, uint32_t* type, std::vector<uint8_t>* out) override {
        auto it = values.find(name);
        if (it == values.end()) return ERROR_FILE_NOT_FOUND;
        *type = REG_BINARY;
        *out = it->second;
        return ERROR_SUCCESS;
    }
    uint32_t set_data(const std::string& name, uint32_t type, const std::vector<uint8_t>& bytes) override {
        EXPECT_EQ(type, static_cast<uint32_t>(REG_BINARY));
        writes.emplace_back(name, bytes);
        return ERROR_SUCCESS;
    }
    uint32_t status() override { return status_bits; }
};

sim::PrinterConfig printer_config(const std::string& name, const std::string& port, std::shared_ptr<sim::PrinterModel> model) {
    sim::PrinterConfig c;
    c.name = name;
    c.port = port;
    c.driver = name + " Driver";
    c.comment = "comment of " + name;
    c.location = "Room 2";
    c.model = std::move(model);
    return c;
}

bool inside(const void* p, const std::vector<BYTE>& buf, size_t used) {
    const BYTE* b = static_cast<const BYTE*>(p);
    return b >= buf.data() && b < buf.data() + used;
}

// --- enumeration ------------------------------------------------------------------------------

TEST(SpoolerEnum, Level2SizeProtocolPacksStringsInsideTheCallersBuffer) {
    sim::World world(sim_test::config());
    world.spooler().add_printer(printer_config("Pellan IV", "LPT1:", nullptr));
    sim::PrinterConfig lam = printer_config("Disc Laminator", "USB001", nullptr);
    lam.devmode = sim::make_devmode("Disc Laminator", std::vector<uint8_t>(200, 0x5A));
    world.spooler().add_printer(lam);
    sim::PrinterConfig remote = printer_config("\\\\SRV\\Office", "IP_10.0.0.9", nullptr);
    remote.connection = true;
    world.spooler().add_printer(remote);

    run_in(world, [&] {
        DWORD needed = 0, returned = 99;
        SetLastError(0);
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(returned, 0u);
        ASSERT_GT(needed, 2 * sizeof(PRINTER_INFO_2A) + sizeof(DEVMODEA) + 200);

        std::vector<BYTE> buf(needed + 64, 0xEE);
        SetLastError(0);
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed - 1, &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "one byte short";
        EXPECT_EQ(buf[0], 0xEE) << "a failed call leaves the buffer alone";

        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &returned));
        ASSERT_EQ(returned, 2u) << "the connection is not a local printer";
        for (size_t i = needed; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xEE) << "written past the size reported, at " << i;

        const PRINTER_INFO_2A* info = reinterpret_cast<const PRINTER_INFO_2A*>(buf.data());
        EXPECT_STREQ(info[0].pPrinterName, "Pellan IV");
        EXPECT_STREQ(info[0].pPortName, "LPT1:");
        EXPECT_STREQ(info[0].pDriverName, "Pellan IV Driver");
        EXPECT_STREQ(info[0].pComment, "comment of Pellan IV");
        EXPECT_EQ(info[0].pServerName, nullptr) << "local printers have no server name";
        EXPECT_EQ(info[0].pDevMode, nullptr);
        EXPECT_STREQ(info[1].pPrinterName, "Disc Laminator");
        EXPECT_STREQ(info[1].pPortName, "USB001");
        const LPSTR strings[] = {info[0].pPrinterName, info[0].pPortName, info[0].pDriverName, info[0].pShareName,
                                 info[0].pDatatype,    info[1].pPrinterName, info[1].pPortName, info[1].pLocation,
                                 info[1].pPrintProcessor};
        for (LPSTR s : strings) {
            ASSERT_NE(s, nullptr);
            EXPECT_TRUE(inside(s, buf, needed)) << s;
            EXPECT_GE(reinterpret_cast<const BYTE*>(s), buf.data() + 2 * sizeof(PRINTER_INFO_2A))
                << "strings follow the records";
        }
        ASSERT_NE(info[1].pDevMode, nullptr);
        EXPECT_TRUE(inside(info[1].pDevMode, buf, needed));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(info[1].pDevMode) % 8, 0u);
        EXPECT_EQ(info[1].pDevMode->dmSize, sizeof(DEVMODEA));
        EXPECT_EQ(info[1].pDevMode->dmDriverExtra, 200);
        const BYTE* priv = reinterpret_cast<const BYTE*>(info[1].pDevMode) + info[1].pDevMode->dmSize;
        EXPECT_EQ(priv[0], 0x5A);
        EXPECT_EQ(priv[199], 0x5A);

        // Local and connections together list the connection after the local printers.
        DWORD all = 0;
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &all, &returned));
        EXPECT_GT(all, needed);
        std::vector<BYTE> buf2(all);
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, buf2.data(), all, &all,
                                  &returned));
        ASSERT_EQ(returned, 3u);
        const PRINTER_INFO_2A* info2 = reinterpret_cast<const PRINTER_INFO_2A*>(buf2.data());
        EXPECT_STREQ(info2[2].pPrinterName, "\\\\SRV\\Office");
        EXPECT_STREQ(info2[2].pServerName, "\\\\SRV");
    });
    const auto spool = world.kernel().transcript().of_kind("spool");
    bool counted = false;
    for (const auto& e : spool) counted = counted || e.text.find("EnumPrintersA level 2: 2 printers") == 0;
    EXPECT_TRUE(counted) << world.transcript_text();
}

TEST(SpoolerEnum, Level1DescribesNameDriverAndLocation) {
    sim::World world(sim_test::config());
    world.spooler().add_printer(printer_config("Tessik 6", "USB002", nullptr));
    run_in(world, [&] {
        DWORD needed = 0, returned = 0;
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<BYTE> buf(needed);
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buf.data(), needed, &needed, &returned));
        ASSERT_EQ(returned, 1u);
        const PRINTER_INFO_1A* info = reinterpret_cast<const PRINTER_INFO_1A*>(buf.data());
        EXPECT_STREQ(info->pName, "Tessik 6");
        EXPECT_STREQ(info->pDescription, "Tessik 6,Tessik 6 Driver,Room 2");
        EXPECT_STREQ(info->pComment, "comment of Tessik 6");
        EXPECT_TRUE(inside(info->pDescription, buf, needed));

        SetLastError(0);
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, buf.data(), needed, &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    });
}

TEST(SpoolerEnum, NoPrintersSucceedsEmptyAndInjectedFailuresRunOut) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        DWORD needed = 77, returned = 77;
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
        EXPECT_EQ(needed, 0u);
        EXPECT_EQ(returned, 0u);

        world.spooler().add_printer(printer_config("Pellan PRO", "USB001", nullptr));
        world.spooler().fail_enum(ERROR_NOT_ENOUGH_MEMORY, 2);
        for (int i = 0; i < 2; ++i) {
            SetLastError(0);
            EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            EXPECT_EQ(needed, 0u);
        }
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "the fault was used up";
        EXPECT_GT(needed, 0u);
    });
    EXPECT_EQ(world.spooler().enum_calls(), 4u);
}

// --- one printer ------------------------------------------------------------------------------

TEST(SpoolerPrinter, GetPrinterLevel2SizeProtocolAndStatusFromTheModel) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    model->status_bits = PRINTER_STATUS_PAPER_OUT;
    sim::PrinterConfig c = printer_config("Varrow 600", "USB003", model);
    c.status = PRINTER_STATUS_PAUSED;
    c.attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_RAW_ONLY;
    c.devmode = sim::make_devmode("Varrow 600", std::vector<uint8_t>(160, 0));
    c.devmode[sizeof(DEVMODEA) + 140] = 2;  // a value in the driver's private part
    world.spooler().add_printer(c);

    run_in(world, [&] {
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("VARROW 600"), &h, nullptr)) << "names match without case";
        DWORD needed = 0;
        EXPECT_FALSE(GetPrinterA(h, 2, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ASSERT_GT(needed, sizeof(PRINTER_INFO_2A));
        std::vector<BYTE> buf(needed);
        SetLastError(0);
        EXPECT_FALSE(GetPrinterA(h, 2, buf.data(), needed - 1, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ASSERT_TRUE(GetPrinterA(h, 2, buf.data(), needed, &needed));
        const PRINTER_INFO_2A* info = reinterpret_cast<const PRINTER_INFO_2A*>(buf.data());
        EXPECT_STREQ(info->pPrinterName, "Varrow 600");
        EXPECT_STREQ(info->pPortName, "USB003");
        EXPECT_STREQ(info->pDriverName, "Varrow 600 Driver");
        EXPECT_TRUE(inside(info->pPortName, buf, needed));
        EXPECT_TRUE(inside(info->pDriverName, buf, needed));
        EXPECT_EQ(info->Status, static_cast<DWORD>(PRINTER_STATUS_PAUSED | PRINTER_STATUS_PAPER_OUT));
        EXPECT_EQ(info->Attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_RAW_ONLY));
        ASSERT_NE(info->pDevMode, nullptr);
        const BYTE* priv = reinterpret_cast<const BYTE*>(info->pDevMode) + info->pDevMode->dmSize;
        EXPECT_EQ(priv[140], 2);

        model->status_bits = 0;
        ASSERT_TRUE(GetPrinterA(h, 2, buf.data(), needed, &needed));
        EXPECT_EQ(info->Status, static_cast<DWORD>(PRINTER_STATUS_PAUSED)) << "status is read afresh";
        EXPECT_TRUE(ClosePrinter(h));
    });
    EXPECT_EQ(world.spooler().open_handle_count(), 0u);
}

TEST(SpoolerPrinter, UnknownNamesAndDeadHandlesFail) {
    sim::World world(sim_test::config());
    world.spooler().add_printer(printer_config("Disc Laminator", "USB001", nullptr));
    run_in(world, [&] {
        HANDLE h = reinterpret_cast<HANDLE>(0x1234);
        SetLastError(0);
        EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator 2"), &h, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
        EXPECT_EQ(h, nullptr);

        DWORD needed = 0;
        DOC_INFO_1A di = {const_cast<LPSTR>("x"), nullptr, const_cast<LPSTR>("RAW")};
        SetLastError(0);
        EXPECT_FALSE(GetPrinterA(reinterpret_cast<HANDLE>(0x1234), 2, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_EQ(StartDocPrinterA(reinterpret_cast<HANDLE>(0x1234), 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(GetPrinterDataA(reinterpret_cast<HANDLE>(0x1234), const_cast<LPSTR>("MARLUNE"), nullptr, nullptr, 0,
                                  &needed),
                  static_cast<DWORD>(ERROR_INVALID_HANDLE));

        // A handle of a printer that is uninstalled stops working but can still be closed.
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, nullptr));
        ASSERT_TRUE(world.spooler().remove_printer("disc laminator"));
        SetLastError(0);
        EXPECT_EQ(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_TRUE(ClosePrinter(h));
        SetLastError(0);
        EXPECT_FALSE(ClosePrinter(h)) << "closed twice";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, nullptr));
    });
    EXPECT_EQ(world.spooler().open_handle_count(), 0u);
}

// --- raw documents ----------------------------------------------------------------------------

TEST(SpoolerDocument, RawDocumentReachesTheModelWithItsBytesAtEndDoc) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    world.spooler().add_printer(printer_config("Disc Laminator", "USB001", model));
    const BYTE cmd[8] = {0x1B, 0x4C, 0x03, 0x00, 0x00, 0x0D, 0x0A, 0xFF};
    DWORD job = 0;
    sim::Micros started = 0;
    run_in(world, [&] {
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, nullptr));
        DOC_INFO_1A di = {const_cast<LPSTR>("LAMINATOR_CMD"), nullptr, const_cast<LPSTR>("RAW")};
        started = sim::kernel().now();
        job = StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di));
        ASSERT_GT(job, 0u);
        ASSERT_TRUE(StartPagePrinter(h));
        DWORD written = 0;
        ASSERT_TRUE(WritePrinter(h, const_cast<BYTE*>(cmd), 5, &written));
        EXPECT_EQ(written, 5u);
        ASSERT_TRUE(WritePrinter(h, const_cast<BYTE*>(cmd + 5), 3, &written));
        EXPECT_EQ(written, 3u);
        Sleep(1500);
        EXPECT_TRUE(model->docs.empty()) << "nothing reaches the driver before the document ends";
        ASSERT_TRUE(EndPagePrinter(h));
        ASSERT_TRUE(EndDocPrinter(h));
        ASSERT_EQ(model->docs.size(), 1u);

        // The handle takes a second document after the first ended; its job id is new.
        const DWORD job2 = StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di));
        EXPECT_GT(job2, job);
        ASSERT_TRUE(EndDocPrinter(h));
        EXPECT_TRUE(ClosePrinter(h));
    });
    ASSERT_EQ(model->docs.size(), 2u);
    const sim::SpoolDocument& d = model->docs[0];
    EXPECT_EQ(d.printer, "Disc Laminator");
    EXPECT_EQ(d.name, "LAMINATOR_CMD");
    EXPECT_EQ(d.datatype, "RAW");
    EXPECT_EQ(d.bytes, std::vector<uint8_t>(cmd, cmd + 8));
    EXPECT_EQ(d.job_id, job);
    EXPECT_EQ(d.pages, 1u);
    EXPECT_EQ(d.started, started);
    EXPECT_EQ(d.finished, started + 1500 * sim::kMs);
    EXPECT_EQ(model->seen_at[0], d.finished);
    EXPECT_TRUE(model->docs[1].bytes.empty());
    const sim::Printer* p = world.spooler().printer("Disc Laminator");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->documents.size(), 2u);
    EXPECT_EQ(p->opens, 1u);

    bool logged = false;
    for (const auto& e : world.kernel().transcript().of_kind("spool"))
        logged = logged || (e.text.find("\"LAMINATOR_CMD\" RAW 8 bytes: \\x1bL\\x03\\x00") != std::string::npos);
    EXPECT_TRUE(logged) << world.transcript_text();
}

TEST(SpoolerDocument, SecondStartDocOnAHandleFailsAndWritesNeedADocument) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    world.spooler().add_printer(printer_config("Pellan IV", "LPT1:", model));
    run_in(world, [&] {
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Pellan IV"), &h, nullptr));
        DWORD written = 9;
        BYTE b[4] = {1, 2, 3, 4};
        SetLastError(0);
        EXPECT_FALSE(WritePrinter(h, b, 4, &written));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));
        EXPECT_EQ(written, 0u);
        EXPECT_FALSE(EndDocPrinter(h));

        DOC_INFO_1A di = {const_cast<LPSTR>("C:\\Jobs\\label.prn"), nullptr, const_cast<LPSTR>("RAW")};
        ASSERT_GT(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        SetLastError(0);
        EXPECT_EQ(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_STATE));
        ASSERT_TRUE(WritePrinter(h, b, 4, &written));
        ASSERT_TRUE(EndDocPrinter(h));
        EXPECT_TRUE(ClosePrinter(h));
    });
    ASSERT_EQ(model->docs.size(), 1u) << "the refused StartDoc did not disturb the open document";
    EXPECT_EQ(model->docs[0].bytes, std::vector<uint8_t>({1, 2, 3, 4}));
}

TEST(SpoolerDocument, ClosingWithAnOpenDocumentCancelsIt) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    world.spooler().add_printer(printer_config("Pellan IV", "LPT1:", model));
    run_in(world, [&] {
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Pellan IV"), &h, nullptr));
        DOC_INFO_1A di = {const_cast<LPSTR>("half"), nullptr, const_cast<LPSTR>("RAW")};
        ASSERT_GT(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        ASSERT_TRUE(StartPagePrinter(h));
        BYTE b[3] = {7, 7, 7};
        DWORD written = 0;
        ASSERT_TRUE(WritePrinter(h, b, 3, &written));
        EXPECT_TRUE(ClosePrinter(h));
    });
    EXPECT_TRUE(model->docs.empty());
    const sim::Printer* p = world.spooler().printer("Pellan IV");
    EXPECT_TRUE(p->documents.empty());
    EXPECT_EQ(p->cancelled, 1u);
    EXPECT_EQ(p->jobs_in_progress, 0u);
    EXPECT_EQ(world.spooler().open_handle_count(), 0u);
}

TEST(SpoolerDocument, InjectedFaultsAndShortWrites) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    sim::Printer& p = world.spooler().add_printer(printer_config("Pellan IV", "LPT1:", model));
    p.write_limit = 3;
    world.spooler().fail_call("Pellan IV", "StartDocPrinterA", ERROR_ACCESS_DENIED, 1);
    world.spooler().fail_call("", "OpenPrinterA", ERROR_NOT_ENOUGH_MEMORY, 1);
    run_in(world, [&] {
        HANDLE h = nullptr;
        SetLastError(0);
        EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("Pellan IV"), &h, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Pellan IV"), &h, nullptr));
        DOC_INFO_1A di = {const_cast<LPSTR>("doc"), nullptr, const_cast<LPSTR>("RAW")};
        SetLastError(0);
        EXPECT_EQ(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        ASSERT_GT(StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di)), 0u);
        BYTE b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        DWORD written = 0;
        ASSERT_TRUE(WritePrinter(h, b, 8, &written));
        EXPECT_EQ(written, 3u) << "the printer takes at most its write limit per call";
        ASSERT_TRUE(EndDocPrinter(h));
        ClosePrinter(h);
    });
    ASSERT_EQ(model->docs.size(), 1u);
    EXPECT_EQ(model->docs[0].bytes, std::vector<uint8_t>({1, 2, 3}));
}

// --- printer data -----------------------------------------------------------------------------

TEST(SpoolerData, GetPrinterDataReportsMoreDataAndTheSizeNeeded) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    std::vector<uint8_t> record(80);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 3 + 1);
    model->values["MARLUNE"] = record;
    world.spooler().add_printer(printer_config("Disc Laminator", "USB001", model));
    run_in(world, [&] {
        HANDLE h = nullptr;
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, &defaults));
        DWORD type = 0, needed = 0;
        EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), &type, nullptr, 0, &needed),
                  static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(needed, 80u);

        std::vector<BYTE> buf(100, 0xEE);
        needed = 0;
        EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), &type, buf.data(), 79, &needed),
                  static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(needed, 80u);
        EXPECT_EQ(buf[0], 0xEE) << "nothing is copied when the value does not fit";

        type = 0;
        needed = 0;
        EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), &type, buf.data(), 100, &needed),
                  static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(needed, 80u);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 80), record);
        EXPECT_EQ(buf[80], 0xEE);

        EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("OTHER"), &type, buf.data(), 100, &needed),
                  static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(needed, 0u);
        ClosePrinter(h);
    });
    bool logged = false;
    for (const auto& e : world.kernel().transcript().of_kind("spool"))
        logged = logged || e.text.find("\"MARLUNE\" -> 234, 80 bytes (buffer 79)") != std::string::npos;
    EXPECT_TRUE(logged) << world.transcript_text();
}

TEST(SpoolerData, SetPrinterDataNeedsAdministerAccessAndReachesTheModel) {
    sim::World world(sim_test::config());
    auto model = std::make_shared<RecordingModel>();
    world.spooler().add_printer(printer_config("Disc Laminator", "USB001", model));
    world.spooler().add_printer(printer_config("Plain", "FILE:", nullptr));
    run_in(world, [&] {
        BYTE zero = 0;
        HANDLE h = nullptr;
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, nullptr));
        EXPECT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), REG_BINARY, &zero, 1),
                  static_cast<DWORD>(ERROR_ACCESS_DENIED))
            << "default access is use only";
        ClosePrinter(h);
        EXPECT_TRUE(model->writes.empty());

        PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, &all));
        EXPECT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("MARLUNE"), REG_BINARY, &zero, 1),
                  static_cast<DWORD>(ERROR_SUCCESS));
        ClosePrinter(h);

        // Without a driver model the spooler keeps the value and hands it back.
        ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("Plain"), &h, &all));
        BYTE v[3] = {9, 8, 7};
        EXPECT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("Value"), REG_BINARY, v, 3), static_cast<DWORD>(ERROR_SUCCESS));
        BYTE back[8] = {};
        DWORD type = 0, needed = 0;
        EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("value"), &type, back, sizeof back, &needed),
                  static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(needed, 3u);
        EXPECT_EQ(back[0], 9);
        EXPECT_EQ(back[2], 7);
        ClosePrinter(h);
    });
    ASSERT_EQ(model->writes.size(), 1u);
    EXPECT_EQ(model->writes[0].first, "MARLUNE");
    EXPECT_EQ(model->writes[0].second, std::vector<uint8_t>({0}));
}

}  // namespace
