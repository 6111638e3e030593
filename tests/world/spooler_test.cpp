// The print spooler behind the calls: several printers and connections enumerated, status and
// printer data from the printer's device model, raw documents reaching the model, cancelled
// documents, uninstalled printers, handles counted and injected faults. What the calls return for
// one plain printer (the size protocol, access rights, documents out of order) is held to Windows
// by the conformance cases (spool.*).
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "support/sim_test.h"
#include "win32/spooler.h"

namespace {

using sim_test::run_in;

// A device model that keeps what the spooler hands it and answers printer-data reads from a
// table of values.
struct RecordingModel : sim::PrinterModel {
    std::vector<sim::SpoolDocument> docs;
    std::map<std::string, std::vector<uint8_t>> values;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> writes;
    uint32_t status_bits = 0;

    void on_document(const sim::SpoolDocument& doc) override { docs.push_back(doc); }
    uint32_t get_data(const std::string& name, uint32_t* type, std::vector<uint8_t>* out) override {
        auto it = values.find(name);
        if (it == values.end()) return ERROR_FILE_NOT_FOUND;
        *type = REG_BINARY;
        *out = it->second;
        return ERROR_SUCCESS;
    }
    uint32_t set_data(const std::string& name, uint32_t, const std::vector<uint8_t>& bytes) override {
        writes.emplace_back(name, bytes);
        return ERROR_SUCCESS;
    }
    uint32_t status() override { return status_bits; }
};

sim::PrinterConfig printer_config(const std::string& name, const std::string& port,
                                 std::shared_ptr<sim::PrinterModel> model = nullptr) {
    sim::PrinterConfig c;
    c.name = name;
    c.port = port;
    c.driver = name + " Driver";
    c.location = "Room 2";
    c.model = std::move(model);
    return c;
}

// A world with one printer, "Disc Laminator" on USB001, whose model records what it gets.
struct SpoolWorld {
    sim::World world{sim_test::config()};
    std::shared_ptr<RecordingModel> model = std::make_shared<RecordingModel>();
    sim::Printer* printer = &world.spooler().add_printer(printer_config("Disc Laminator", "USB001", model));
};

HANDLE open(const char* name, DWORD access = 0) {
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, access};
    HANDLE h = nullptr;
    EXPECT_TRUE(OpenPrinterA(const_cast<LPSTR>(name), &h, access ? &defaults : nullptr)) << name;
    return h;
}

DWORD start_doc(HANDLE h, const char* name) {
    DOC_INFO_1A di = {const_cast<LPSTR>(name), nullptr, const_cast<LPSTR>("RAW")};
    return StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di));
}

bool spool_logged(sim::World& world, const std::string& text) { return sim_test::in_transcript(world, "spool", text); }

bool inside(const void* p, const std::vector<BYTE>& buf, size_t used) {
    const BYTE* b = static_cast<const BYTE*>(p);
    return b >= buf.data() && b < buf.data() + used;
}

// --- enumeration ------------------------------------------------------------------------------

TEST(SpoolerEnum, SizeProtocolPacksRecordsAndStringsInsideTheCallersBuffer) {
    sim::World world(sim_test::config());
    run_in(world, [&] {
        DWORD needed = 77, returned = 77;
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned))
            << "no printers: success with nothing";
        EXPECT_EQ(needed + returned, 0u);

        world.spooler().add_printer(printer_config("Pellan IV", "LPT1:"));
        world.spooler().add_printer(printer_config("Disc Laminator", "USB001"));
        sim::PrinterConfig remote = printer_config("\\\\SRV\\Office", "IP_10.0.0.9");
        remote.connection = true;
        world.spooler().add_printer(remote);
        world.spooler().fail_enum(ERROR_NOT_ENOUGH_MEMORY, 1);
        SetLastError(0);
        EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << "an injected failure";

        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);  // the size first
        ASSERT_GT(needed, 2 * sizeof(PRINTER_INFO_2A));
        std::vector<BYTE> buf(needed + 64, 0xEE);
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed - 1, &needed, &returned);  // one byte short
        EXPECT_EQ(buf[0], 0xEE) << "a failed call leaves the buffer alone (its result: spool.enum2.*)";
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &returned));
        ASSERT_EQ(returned, 2u) << "the connection is not a local printer";
        for (size_t i = needed; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xEE) << "written past the size reported, at " << i;
        const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buf.data());
        EXPECT_STREQ(info[0].pPrinterName, "Pellan IV");
        EXPECT_STREQ(info[0].pPortName, "LPT1:");
        EXPECT_STREQ(info[1].pPrinterName, "Disc Laminator");
        EXPECT_STREQ(info[1].pDriverName, "Disc Laminator Driver");
        EXPECT_TRUE(inside(info[1].pLocation, buf, needed));

        DWORD all = 0;
        EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &all, &returned);
        std::vector<BYTE> buf2(all);
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, buf2.data(), all, &all,
                                  &returned));
        ASSERT_EQ(returned, 3u);
        info = reinterpret_cast<const PRINTER_INFO_2A*>(buf2.data());
        EXPECT_STREQ(info[2].pPrinterName, "\\\\SRV\\Office") << "connections after the local printers";
        EXPECT_STREQ(info[2].pServerName, "\\\\SRV");

        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &returned);
        buf.assign(needed, 0);
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buf.data(), needed, &needed, &returned));
        EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_1A*>(buf.data())[1].pDescription,
                     "Disc Laminator,Disc Laminator Driver,Room 2")
            << "level 1 describes name, driver and location";
    });
}

// --- one printer ------------------------------------------------------------------------------

TEST(SpoolerPrinter, GetPrinterSizeProtocolStatusFromTheModelAndHandleErrors) {
    SpoolWorld w;
    w.model->status_bits = PRINTER_STATUS_PAPER_OUT;
    sim::PrinterConfig c = printer_config("Varrow 600", "USB003", w.model);
    c.status = PRINTER_STATUS_PAUSED;
    c.devmode = sim::make_devmode("Varrow 600", std::vector<uint8_t>(160, 0));
    c.devmode[sizeof(DEVMODEA) + 140] = 2;  // a value in the driver's private part
    w.world.spooler().add_printer(c);
    run_in(w.world, [&] {
        HANDLE h = open("VARROW 600");  // names match without case
        DWORD needed = 0;
        GetPrinterA(h, 2, nullptr, 0, &needed);
        std::vector<BYTE> buf(needed);
        ASSERT_TRUE(GetPrinterA(h, 2, buf.data(), needed, &needed));
        const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buf.data());
        EXPECT_STREQ(info->pPortName, "USB003");
        EXPECT_TRUE(inside(info->pDriverName, buf, needed));
        EXPECT_EQ(info->Status, static_cast<DWORD>(PRINTER_STATUS_PAUSED | PRINTER_STATUS_PAPER_OUT));
        ASSERT_NE(info->pDevMode, nullptr);
        EXPECT_EQ(reinterpret_cast<const BYTE*>(info->pDevMode)[info->pDevMode->dmSize + 140], 2);
        w.model->status_bits = 0;
        ASSERT_TRUE(GetPrinterA(h, 2, buf.data(), needed, &needed));
        EXPECT_EQ(info->Status, static_cast<DWORD>(PRINTER_STATUS_PAUSED)) << "status is read afresh";
        ClosePrinter(h);

        HANDLE none = reinterpret_cast<HANDLE>(0x1234);
        OpenPrinterA(const_cast<LPSTR>("Disc Laminator 2"), &none, nullptr);
        EXPECT_EQ(none, nullptr) << "a failed open leaves no handle";

        h = open("Disc Laminator");
        ASSERT_TRUE(w.world.spooler().remove_printer("disc laminator"));
        SetLastError(0);
        EXPECT_EQ(start_doc(h, "x"), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "the printer was uninstalled";
        EXPECT_TRUE(ClosePrinter(h)) << "... but the handle can still be closed";
        EXPECT_FALSE(ClosePrinter(h)) << "closed twice";
    });
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

// --- raw documents ----------------------------------------------------------------------------

// A raw document reaches the model with its bytes at EndDocPrinter; then injected faults, a
// printer that takes 3 bytes a call, and a handle closed with its document open, which cancels it.
TEST(SpoolerDocument, RawDocumentReachesTheModelAtEndDocAndClosingWithAnOpenDocumentCancelsIt) {
    SpoolWorld w;
    const BYTE cmd[8] = {0x1B, 0x4C, 0x03, 0x00, 0x00, 0x0D, 0x0A, 0xFF};
    DWORD job = 0;
    sim::Micros started = 0;
    run_in(w.world, [&] {
        HANDLE h = open("Disc Laminator");
        DWORD written = 0;
        started = sim::kernel().now();
        job = start_doc(h, "LAMINATOR_CMD");
        ASSERT_GT(job, 0u);
        start_doc(h, "second");  // refused: one document per handle
        ASSERT_TRUE(StartPagePrinter(h));
        ASSERT_TRUE(WritePrinter(h, const_cast<BYTE*>(cmd), 5, &written));
        ASSERT_TRUE(WritePrinter(h, const_cast<BYTE*>(cmd + 5), 3, &written));
        Sleep(1500);
        EXPECT_TRUE(w.model->docs.empty()) << "nothing reaches the driver before the document ends";
        ASSERT_TRUE(EndPagePrinter(h));
        ASSERT_TRUE(EndDocPrinter(h));
        ASSERT_EQ(w.model->docs.size(), 1u) << "handed over at EndDocPrinter";
        EXPECT_GT(start_doc(h, "next"), job) << "the handle takes a new document with a new job id";
        ASSERT_TRUE(EndDocPrinter(h));
        EXPECT_TRUE(ClosePrinter(h));

        w.printer->write_limit = 3;
        w.world.spooler().fail_call("", "OpenPrinterA", ERROR_NOT_ENOUGH_MEMORY, 1);
        w.world.spooler().fail_call("Disc Laminator", "StartDocPrinterA", ERROR_ACCESS_DENIED, 1);
        SetLastError(0);
        EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("Disc Laminator"), &h, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        h = open("Disc Laminator");
        SetLastError(0);
        EXPECT_EQ(start_doc(h, "doc"), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        ASSERT_GT(start_doc(h, "doc"), 0u) << "the fault was used up";
        BYTE b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        ASSERT_TRUE(WritePrinter(h, b, 8, &written));
        EXPECT_EQ(written, 3u) << "the printer takes at most its write limit per call";
        ASSERT_TRUE(EndDocPrinter(h));
        ASSERT_GT(start_doc(h, "half"), 0u);
        ASSERT_TRUE(WritePrinter(h, b, 3, &written));
        EXPECT_TRUE(ClosePrinter(h));
    });
    ASSERT_EQ(w.model->docs.size(), 3u) << "the cancelled document never reached the model";
    const sim::SpoolDocument& d = w.model->docs[0];
    EXPECT_EQ(d.name, "LAMINATOR_CMD");
    EXPECT_EQ(d.datatype, "RAW");
    EXPECT_EQ(d.bytes, std::vector<uint8_t>(cmd, cmd + 8)) << "every byte written, in order";
    EXPECT_EQ(d.job_id, job);
    EXPECT_EQ(d.pages, 1u);
    EXPECT_EQ(d.finished - d.started, 1500 * sim::kMs);
    EXPECT_EQ(d.started, started);
    EXPECT_TRUE(spool_logged(w.world, "\"LAMINATOR_CMD\" RAW 8 bytes: \\x1bL\\x03\\x00")) << w.world.transcript_text();
    EXPECT_EQ(w.model->docs[2].bytes, std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(w.printer->cancelled, 1u);
    EXPECT_EQ(w.printer->jobs_in_progress, 0u);
    EXPECT_EQ(w.world.spooler().open_handle_count(), 0u);
}

// --- printer data -----------------------------------------------------------------------------

TEST(SpoolerData, GetPrinterDataReportsMoreDataAndSetPrinterDataNeedsAdministerAccess) {
    SpoolWorld w;
    std::vector<uint8_t> record(80);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 3 + 1);
    w.model->values["MARLUNE"] = record;
    run_in(w.world, [&] {
        HANDLE h = open("Disc Laminator");
        LPSTR marlune = const_cast<LPSTR>("MARLUNE");
        DWORD type = 0, needed = 0;
        std::vector<BYTE> buf(100, 0xEE);
        EXPECT_EQ(GetPrinterDataA(h, marlune, &type, buf.data(), 79, &needed), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(needed, 80u);
        EXPECT_EQ(buf[0], 0xEE) << "nothing is copied when the value does not fit";
        EXPECT_EQ(GetPrinterDataA(h, marlune, &type, buf.data(), 100, &needed), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 80), record);
        EXPECT_EQ(buf[80], 0xEE);
        BYTE zero = 0;
        SetPrinterDataA(h, marlune, REG_BINARY, &zero, 1);  // refused: default access is use only
        ClosePrinter(h);
        h = open("Disc Laminator", PRINTER_ALL_ACCESS);
        EXPECT_EQ(SetPrinterDataA(h, marlune, REG_BINARY, &zero, 1), static_cast<DWORD>(ERROR_SUCCESS));
        ClosePrinter(h);
    });
    EXPECT_EQ(w.model->writes, (std::vector<std::pair<std::string, std::vector<uint8_t>>>{{"MARLUNE", {0}}}))
        << "only the write with administer access reached the model";
    EXPECT_TRUE(spool_logged(w.world, "\"MARLUNE\" -> 234, 80 bytes (buffer 79)")) << w.world.transcript_text();
}

}  // namespace
