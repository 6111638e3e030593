// The world's print spooler: the printers installed on the machine, each with a device model
// behind it (a disc printer's driver, the laminator's driver), reached by the module through the
// winspool calls (EnumPrintersA, OpenPrinterA, GetPrinterA, the raw document calls and the
// printer-data values).
//
// Documents are spooled per printer handle: StartDocPrinterA opens a job, WritePrinter appends
// raw bytes, EndDocPrinter hands the finished document to the printer's model. A handle closed
// with a document still open cancels that document; the model never sees it. The world's spooler
// counter (CallFaults) may fail any of these calls but ClosePrinter.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/fault_counter.h"
#include "kernel/kernel.h"

namespace sim {

class World;

// One finished raw document as the printer's driver receives it.
struct SpoolDocument {
    std::string printer;          // the printer's name
    std::string name;             // DOC_INFO_1 pDocName ("" when NULL)
    std::string datatype;         // DOC_INFO_1 pDatatype ("" when NULL)
    std::string output_file;      // DOC_INFO_1 pOutputFile ("" when NULL)
    std::vector<uint8_t> bytes;   // everything WritePrinter appended, in order
    DWORD job_id = 0;
    uint32_t pages = 0;           // StartPagePrinter calls
    Micros started = 0;           // virtual time of StartDocPrinterA
    Micros finished = 0;          // virtual time of EndDocPrinter
};

// The device behind a printer: what its driver does with documents and printer-data values.
// Models run on the calling simulated thread inside the spooler calls; they must not block, but
// may schedule kernel events (sim::kernel().after(...)) to change their state later.
struct PrinterModel {
    virtual ~PrinterModel() = default;
    // A document finished with EndDocPrinter.
    virtual void on_document(const SpoolDocument& doc) { (void)doc; }
    // GetPrinterDataA: fills *type and *out and returns ERROR_SUCCESS, or returns a Win32 error.
    virtual uint32_t get_data(const std::string& value_name, uint32_t* type, std::vector<uint8_t>* out) {
        (void)value_name;
        (void)type;
        (void)out;
        return ERROR_FILE_NOT_FOUND;
    }
    // SetPrinterDataA.
    virtual uint32_t set_data(const std::string& value_name, uint32_t type, const std::vector<uint8_t>& bytes) {
        (void)value_name;
        (void)type;
        (void)bytes;
        return ERROR_SUCCESS;
    }
    // The Status field GetPrinterA reports (PRINTER_STATUS_* bits).
    virtual uint32_t status() { return 0; }
};

struct PrinterConfig {
    std::string name;                 // "Marlune Disc Printer", "Disc Laminator"
    std::string port = "USB001";      // "USB001", "FILE:", "LPT1:" ...
    std::string driver;               // driver name; defaults to the printer's name when empty
    std::string comment;
    std::string location;
    std::string share_name;
    std::string print_processor = "WinPrint";
    std::string datatype = "RAW";
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    // Status bits reported in addition to the model's status().
    DWORD status = 0;
    // Listed by PRINTER_ENUM_CONNECTIONS rather than PRINTER_ENUM_LOCAL (a network connection).
    bool connection = false;
    // The default device mode GetPrinterA reports (public part and driver part, see
    // make_devmode); empty = pDevMode NULL.
    std::vector<uint8_t> devmode;
    std::shared_ptr<PrinterModel> model;  // may be null: documents are then only recorded
};

struct Printer {
    PrinterConfig config;
    // Finished documents, oldest first: the most recent `documents_kept` of them (0 = all). A
    // print job sends a whole print file per disc; only the recent ones are held.
    std::deque<SpoolDocument> documents;
    size_t documents_kept = 16;
    uint32_t documents_finished = 0;       // every finished document, held or not
    uint64_t bytes_finished = 0;           // their bytes
    uint32_t opens = 0;                    // successful OpenPrinterA calls
    uint32_t open_handles = 0;             // handles not yet closed
    uint32_t jobs_in_progress = 0;         // documents started and not yet ended (cJobs)
    uint32_t cancelled = 0;                // documents discarded by ClosePrinter
    bool removed = false;                  // uninstalled or replaced
    // WritePrinter accepts at most this many bytes per call (0 = no limit): a short write.
    uint32_t write_limit = 0;
    // Printer-data values of a printer without a model (the spooler keeps them as written).
    std::map<std::string, std::pair<uint32_t, std::vector<uint8_t>>> data;
};

// Builds a device mode as a printer driver keeps it: the public DEVMODEA part (device name,
// dmSize = the public size, dmDriverExtra = the private size) followed by the driver's private
// bytes.
std::vector<uint8_t> make_devmode(const std::string& device_name, const std::vector<uint8_t>& driver_private);

class Spooler {
public:
    explicit Spooler(World& world);
    ~Spooler();
    Spooler(const Spooler&) = delete;
    Spooler& operator=(const Spooler&) = delete;

    // --- world API (tests, tools, device models; no scheduling point, no last error) -----------
    // Installs a printer (replaces one of the same name, matched case-insensitively; handles to
    // the replaced printer fail from then on).
    Printer& add_printer(const PrinterConfig& config);
    // Uninstalls a printer; handles already open fail from then on with ERROR_INVALID_HANDLE.
    bool remove_printer(const std::string& name);
    // The installed printer of that name, or nullptr.
    Printer* printer(const std::string& name);
    // Installed printers in enumeration order (order of installation).
    std::vector<Printer*> printers();
    // The next `count` EnumPrintersA calls fail with `error` (count -1 = always, 0 = stop).
    void fail_enum(DWORD error, int count);
    // The next `count` calls of a winspool function ("OpenPrinterA", "GetPrinterA",
    // "StartDocPrinterA", "StartPagePrinter", "WritePrinter", "EndPagePrinter", "EndDocPrinter",
    // "GetPrinterDataA", "SetPrinterDataA") on that printer ("" = any printer) fail with `error`
    // (count -1 = always, 0 = remove the rule). The failing call has no other effect.
    void fail_call(const std::string& printer, const std::string& call, DWORD error, int count);
    uint32_t enum_calls() const { return enum_calls_; }
    // Printer handles not yet closed (leak checks).
    size_t open_handle_count() const;

    // --- internal, for the winspool calls ------------------------------------------------------
    std::shared_ptr<Printer> find_shared(const std::string& name) const;
    // Asks the counters of the call (fail_enum, fail_call); returns the error of the one that
    // fails it, or 0.
    DWORD take_enum_fault();
    DWORD take_fault(const std::string& printer, const char* call);
    DWORD next_job_id() { return next_job_id_++; }
    void count_enum() { ++enum_calls_; }

private:
    World& world_;
    std::vector<std::shared_ptr<Printer>> printers_;
    FaultCounter enum_faults_;
    std::map<std::string, FaultCounters> call_faults_;  // by call; targets: lower-case printer names
    uint32_t enum_calls_ = 0;
    DWORD next_job_id_ = 2;
};

}  // namespace sim
