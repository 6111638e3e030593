// The world's print spooler and the winspool calls that reach it.
#include "win32/spooler.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "kernel/handles.h"
#include "kernel/text.h"
#include "world/world.h"

namespace sim {

namespace {

std::string quoted(const std::string& s) { return "\"" + Transcript::escape(s) + "\""; }

// One open printer handle: what OpenPrinterA gave out, with the document in progress on it.
struct PrinterHandle : KernelObject {
    std::shared_ptr<Printer> printer;
    DWORD access = PRINTER_ACCESS_USE;
    bool in_doc = false;
    bool in_page = false;
    SpoolDocument doc;

    const char* type_name() const override { return "printer"; }
    bool on_close() override {
        if (in_doc) {
            // The spooler cancels a job whose handle goes away before EndDocPrinter.
            ++printer->cancelled;
            if (printer->jobs_in_progress) --printer->jobs_in_progress;
            kernel().record("spool", "job " + std::to_string(doc.job_id) + " on " + quoted(printer->config.name) +
                                         " cancelled (" + std::to_string(doc.bytes.size()) + " bytes discarded)");
            in_doc = false;
        }
        if (printer->open_handles) --printer->open_handles;
        return true;
    }
};

// The sweep's injected spooler fault ("fail call N"): true when this call is to fail, with the
// transcript told. The calls that reach the spooler service fail with RPC_S_SERVER_UNAVAILABLE
// (the spooler service stopped or restarting); the calls on a document under way with
// ERROR_PRINT_CANCELLED (the job was deleted from the queue). A failing call does nothing else.
// ClosePrinter is not among them: a failing close leaves nothing for its caller to do.
bool injected_fault(const char* call, DWORD error) { return static_cast<bool>(inject(world().call_faults().spooler, "", call, error)); }

// The printer handle behind h, or nullptr with ERROR_INVALID_HANDLE set.
std::shared_ptr<PrinterHandle> printer_handle(HANDLE h) {
    auto ph = world().handles().get<PrinterHandle>(h);
    if (!ph || ph->printer->removed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return ph;
}

// Lays out spooler information records the way winspool returns them: the fixed-size records
// first, then everything they point to (device modes, 8-byte aligned, and strings) packed
// after them in the same buffer. With base == nullptr only the size is worked out.
struct Packer {
    BYTE* base = nullptr;
    size_t used = 0;

    void* reserve(size_t n, size_t align) {
        used = (used + align - 1) / align * align;
        void* p = base ? base + used : nullptr;
        used += n;
        return p;
    }
    LPSTR str(const std::string& s) {
        void* p = reserve(s.size() + 1, 1);
        if (p) std::memcpy(p, s.c_str(), s.size() + 1);
        return static_cast<LPSTR>(p);
    }
    LPSTR str_or_null(const std::string& s) { return s.empty() ? nullptr : str(s); }
    void* bytes(const std::vector<uint8_t>& b, size_t align) {
        if (b.empty()) return nullptr;
        void* p = reserve(b.size(), align);
        if (p) std::memcpy(p, b.data(), b.size());
        return p;
    }
};

DWORD printer_status(const Printer& p) {
    DWORD s = p.config.status;
    if (p.config.model) s |= p.config.model->status();
    return s;
}

std::string driver_name(const PrinterConfig& c) { return c.driver.empty() ? c.name : c.driver; }

// The server part of a connection's name ("\\SERVER\Share" -> "\\SERVER"), or "".
std::string server_name(const PrinterConfig& c) {
    if (c.name.size() > 2 && c.name[0] == '\\' && c.name[1] == '\\') {
        size_t end = c.name.find('\\', 2);
        return c.name.substr(0, end);
    }
    return "";
}

void fill_info1(Packer& pk, PRINTER_INFO_1A* rec, const Printer& p) {
    const PrinterConfig& c = p.config;
    PRINTER_INFO_1A r = {};
    r.Flags = PRINTER_ENUM_ICON8;
    r.pDescription = pk.str(c.name + "," + driver_name(c) + "," + c.location);
    r.pName = pk.str(c.name);
    r.pComment = pk.str(c.comment);
    if (rec) *rec = r;
}

void fill_info2(Packer& pk, PRINTER_INFO_2A* rec, const Printer& p) {
    const PrinterConfig& c = p.config;
    PRINTER_INFO_2A r = {};
    r.pServerName = pk.str_or_null(server_name(c));
    r.pPrinterName = pk.str(c.name);
    r.pShareName = pk.str(c.share_name);
    r.pPortName = pk.str(c.port);
    r.pDriverName = pk.str(driver_name(c));
    r.pComment = pk.str(c.comment);
    r.pLocation = pk.str(c.location);
    r.pDevMode = static_cast<LPDEVMODEA>(pk.bytes(c.devmode, 8));
    r.pSepFile = pk.str("");
    r.pPrintProcessor = pk.str(c.print_processor);
    r.pDatatype = pk.str(c.datatype);
    r.pParameters = pk.str("");
    r.pSecurityDescriptor = nullptr;
    r.Attributes = c.attributes;
    r.Priority = 1;
    r.DefaultPriority = 0;
    r.StartTime = 0;
    r.UntilTime = 0;
    r.Status = printer_status(p);
    r.cJobs = p.jobs_in_progress;
    r.AveragePPM = 0;
    if (rec) *rec = r;
}

// Lays out `printers` at `level` into base (nullptr: size only). Returns the size needed.
size_t layout(const std::vector<const Printer*>& printers, DWORD level, BYTE* base) {
    Packer pk;
    pk.base = base;
    const size_t rec_size = level == 1 ? sizeof(PRINTER_INFO_1A) : sizeof(PRINTER_INFO_2A);
    std::vector<void*> recs;
    for (size_t i = 0; i < printers.size(); ++i) recs.push_back(pk.reserve(rec_size, alignof(PRINTER_INFO_2A)));
    for (size_t i = 0; i < printers.size(); ++i) {
        if (level == 1)
            fill_info1(pk, static_cast<PRINTER_INFO_1A*>(recs[i]), *printers[i]);
        else
            fill_info2(pk, static_cast<PRINTER_INFO_2A*>(recs[i]), *printers[i]);
    }
    return pk.used;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// World API

std::vector<uint8_t> make_devmode(const std::string& device_name, const std::vector<uint8_t>& driver_private) {
    DEVMODEA dm;
    std::memset(&dm, 0, sizeof dm);
    std::strncpy(reinterpret_cast<char*>(dm.dmDeviceName), device_name.c_str(), CCHDEVICENAME - 1);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmSize = sizeof(DEVMODEA);
    dm.dmDriverExtra = static_cast<WORD>(driver_private.size());
    std::vector<uint8_t> out(sizeof dm + driver_private.size());
    std::memcpy(out.data(), &dm, sizeof dm);
    if (!driver_private.empty()) std::memcpy(out.data() + sizeof dm, driver_private.data(), driver_private.size());
    return out;
}

Spooler::Spooler(World& world) : world_(world) {}
Spooler::~Spooler() = default;

std::shared_ptr<Printer> Spooler::find_shared(const std::string& name) const {
    const std::string key = lower(name);
    for (const auto& p : printers_)
        if (lower(p->config.name) == key) return p;
    return nullptr;
}

Printer& Spooler::add_printer(const PrinterConfig& config) {
    auto p = std::make_shared<Printer>();
    p->config = config;
    const std::string key = lower(config.name);
    for (auto& existing : printers_) {
        if (lower(existing->config.name) == key) {
            existing->removed = true;
            existing = p;
            return *p;
        }
    }
    printers_.push_back(p);
    return *p;
}

bool Spooler::remove_printer(const std::string& name) {
    const std::string key = lower(name);
    for (auto it = printers_.begin(); it != printers_.end(); ++it) {
        if (lower((*it)->config.name) == key) {
            (*it)->removed = true;
            printers_.erase(it);
            return true;
        }
    }
    return false;
}

Printer* Spooler::printer(const std::string& name) { return find_shared(name).get(); }

std::vector<Printer*> Spooler::printers() {
    std::vector<Printer*> out;
    for (auto& p : printers_) out.push_back(p.get());
    return out;
}

void Spooler::fail_enum(DWORD error, int count) {
    enum_faults_.set_error(static_cast<long>(error));
    enum_faults_.arm_next(count);
}

void Spooler::fail_call(const std::string& printer, const std::string& call, DWORD error, int count) {
    FaultCounter& c = call_faults_[call].counter(lower(printer));
    c.set_error(static_cast<long>(error));
    c.set_told_by_call(true);  // the call's own "spool" line, where it writes one
    c.arm_next(count);
}

DWORD Spooler::take_enum_fault() { return enum_faults_.should_fail() ? static_cast<DWORD>(enum_faults_.error()) : 0; }

DWORD Spooler::take_fault(const std::string& printer, const char* call) {
    auto family = call_faults_.find(call);
    if (family == call_faults_.end()) return 0;
    return static_cast<DWORD>(inject(family->second, lower(printer), call, 0).error);
}

size_t Spooler::open_handle_count() const { return world_.handles().open_count("printer"); }

}  // namespace sim

// ---------------------------------------------------------------------------------------------
// winspool

using sim::kernel;
using sim::Printer;
using sim::PrinterHandle;
using sim::quoted;
using sim::world;

extern "C" BOOL WINAPI EnumPrintersA(DWORD Flags, LPSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                                     LPDWORD pcbNeeded, LPDWORD pcReturned) {
    sim::enter_call("EnumPrintersA");
    sim::Spooler& sp = world().spooler();
    sp.count_enum();
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcbNeeded = 0;
    *pcReturned = 0;
    if (sim::injected_fault("EnumPrintersA", RPC_S_SERVER_UNAVAILABLE)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        kernel().record("spool", "EnumPrintersA level " + std::to_string(Level) + " refused");
        return FALSE;
    }
    // Only this machine's spooler is served: a server name other than the empty one is unknown.
    if (Name && Name[0] != '\0') {
        SetLastError(ERROR_INVALID_NAME);
        kernel().record("spool", "EnumPrintersA " + quoted(Name) + " refused: unknown server");
        return FALSE;
    }
    if (DWORD error = sp.take_enum_fault()) {
        SetLastError(error);
        kernel().record("spool", "EnumPrintersA failed with error " + std::to_string(error));
        return FALSE;
    }
    // PRINTER_ENUM_NAME with no name means the local printers, as PRINTER_ENUM_LOCAL does.
    const bool want_local = (Flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) != 0;
    const bool want_connections = (Flags & PRINTER_ENUM_CONNECTIONS) != 0;
    std::vector<const Printer*> list;
    for (Printer* p : sp.printers())
        if (!p->config.connection && want_local) list.push_back(p);
    for (Printer* p : sp.printers())
        if (p->config.connection && want_connections) list.push_back(p);

    const size_t needed = list.empty() ? 0 : sim::layout(list, Level, nullptr);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (needed > 0 && (!pPrinterEnum || cbBuf < needed)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        kernel().record("spool", "EnumPrintersA level " + std::to_string(Level) + ": " + std::to_string(list.size()) +
                                     " printers need " + std::to_string(needed) + " bytes, buffer " +
                                     std::to_string(pPrinterEnum ? cbBuf : 0));
        return FALSE;
    }
    if (needed > 0) sim::layout(list, Level, pPrinterEnum);
    *pcReturned = static_cast<DWORD>(list.size());
    kernel().record("spool", "EnumPrintersA level " + std::to_string(Level) + ": " + std::to_string(list.size()) +
                                 " printers");
    return TRUE;
}

extern "C" BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) {
    sim::enter_call("OpenPrinterA");
    if (!phPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phPrinter = nullptr;
    if (sim::injected_fault("OpenPrinterA", RPC_S_SERVER_UNAVAILABLE)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    if (!pPrinterName || pPrinterName[0] == '\0') {
        // A handle to the local print server itself is not served.
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        kernel().record("spool", "OpenPrinterA (server) refused");
        return FALSE;
    }
    sim::Spooler& sp = world().spooler();
    auto p = sp.find_shared(pPrinterName);
    if (!p) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        kernel().record("spool", "OpenPrinterA " + quoted(pPrinterName) + " failed: no such printer");
        return FALSE;
    }
    if (DWORD error = sp.take_fault(p->config.name, "OpenPrinterA")) {
        SetLastError(error);
        kernel().record("spool", "OpenPrinterA " + quoted(pPrinterName) + " failed with error " + std::to_string(error));
        return FALSE;
    }
    auto ph = std::make_shared<PrinterHandle>();
    ph->printer = p;
    ph->access = pDefault && pDefault->DesiredAccess ? pDefault->DesiredAccess : PRINTER_ACCESS_USE;
    ++p->opens;
    ++p->open_handles;
    *phPrinter = world().handles().add(ph);
    char access[16];
    std::snprintf(access, sizeof access, "0x%X", static_cast<unsigned>(ph->access));
    kernel().record("spool", "OpenPrinterA " + quoted(p->config.name) + " access " + access);
    return TRUE;
}

extern "C" BOOL WINAPI GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
    sim::enter_call("GetPrinterA");
    auto ph = sim::printer_handle(hPrinter);
    if (!ph) return FALSE;
    if (!pcbNeeded) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcbNeeded = 0;
    if (sim::injected_fault("GetPrinterA", RPC_S_SERVER_UNAVAILABLE)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (DWORD error = world().spooler().take_fault(ph->printer->config.name, "GetPrinterA")) {
        SetLastError(error);
        kernel().record("spool", "GetPrinterA " + quoted(ph->printer->config.name) + " failed with error " +
                                     std::to_string(error));
        return FALSE;
    }
    std::vector<const Printer*> one{ph->printer.get()};
    const size_t needed = sim::layout(one, Level, nullptr);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (!pPrinter || cbBuf < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    sim::layout(one, Level, pPrinter);
    return TRUE;
}

extern "C" DWORD WINAPI StartDocPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo) {
    sim::enter_call("StartDocPrinterA");
    auto ph = sim::printer_handle(hPrinter);
    if (!ph) return 0;
    if (sim::injected_fault("StartDocPrinterA", RPC_S_SERVER_UNAVAILABLE)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return 0;
    }
    Printer& p = *ph->printer;
    if (Level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return 0;
    }
    if (!pDocInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (ph->in_doc) {
        // A second document on a handle that has one open is a bad parameter, not a printer state.
        SetLastError(ERROR_INVALID_PARAMETER);
        kernel().record("spool", "StartDocPrinterA on " + quoted(p.config.name) + " refused: job " +
                                     std::to_string(ph->doc.job_id) + " still open on this handle");
        return 0;
    }
    const DOC_INFO_1A* info = reinterpret_cast<const DOC_INFO_1A*>(pDocInfo);
    const std::string datatype = info->pDatatype ? info->pDatatype : p.config.datatype;
    if ((p.config.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) && sim::lower(datatype) != "raw") {
        SetLastError(ERROR_INVALID_DATATYPE);
        kernel().record("spool", "StartDocPrinterA on " + quoted(p.config.name) + " refused: datatype " + quoted(datatype));
        return 0;
    }
    if (DWORD error = world().spooler().take_fault(p.config.name, "StartDocPrinterA")) {
        SetLastError(error);
        kernel().record("spool", "StartDocPrinterA on " + quoted(p.config.name) + " failed with error " +
                                     std::to_string(error));
        return 0;
    }
    ph->doc = sim::SpoolDocument();
    ph->doc.printer = p.config.name;
    ph->doc.name = info->pDocName ? info->pDocName : "";
    ph->doc.output_file = info->pOutputFile ? info->pOutputFile : "";
    ph->doc.datatype = datatype;
    ph->doc.job_id = world().spooler().next_job_id();
    ph->doc.started = kernel().now();
    ph->in_doc = true;
    ph->in_page = false;
    ++p.jobs_in_progress;
    kernel().record("spool", "StartDocPrinterA on " + quoted(p.config.name) + ": job " +
                                 std::to_string(ph->doc.job_id) + " " + quoted(ph->doc.name) + " " + datatype);
    return ph->doc.job_id;
}

extern "C" BOOL WINAPI StartPagePrinter(HANDLE hPrinter) {
    sim::enter_call("StartPagePrinter");
    auto ph = sim::printer_handle(hPrinter);
    if (!ph) return FALSE;
    if (sim::injected_fault("StartPagePrinter", ERROR_PRINT_CANCELLED)) {
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    if (!ph->in_doc) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    if (DWORD error = world().spooler().take_fault(ph->printer->config.name, "StartPagePrinter")) {
        SetLastError(error);
        return FALSE;
    }
    if (!ph->in_page) ++ph->doc.pages;
    ph->in_page = true;
    return TRUE;
}

extern "C" BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten) {
    sim::enter_call("WritePrinter");
    if (pcWritten) *pcWritten = 0;
    auto ph = sim::printer_handle(hPrinter);
    if (!ph) return FALSE;
    if (sim::injected_fault("WritePrinter", ERROR_PRINT_CANCELLED)) {
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    if (!pcWritten || (!pBuf && cbBuf > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ph->in_doc) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    Printer& p = *ph->printer;
    if (DWORD error = world().spooler().take_fault(p.config.name, "WritePrinter")) {
        SetLastError(error);
        kernel().record("spool", "WritePrinter on " + quoted(p.config.name) + " failed with error " + std::to_string(error));
        return FALSE;
    }
    DWORD n = cbBuf;
    if (p.write_limit && n > p.write_limit) n = p.write_limit;
    const uint8_t* b = static_cast<const uint8_t*>(pBuf);
    ph->doc.bytes.insert(ph->doc.bytes.end(), b, b + n);
    *pcWritten = n;
    return TRUE;
}

extern "C" BOOL WINAPI EndPagePrinter(HANDLE hPrinter) {
    sim::enter_call("EndPagePrinter");
    auto ph = sim::printer_handle(hPrinter);
    if (!ph) return FALSE;
    if (sim::injected_fault("EndPagePrinter", ERROR_PRINT_CANCELLED)) {
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    if (!ph->in_doc) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    if (DWORD error = world().spooler().take_fault(ph->printer->config.name, "EndPagePrinter")) {
        SetLastError(error);
        return FALSE;
    }
    ph->in_page = false;
    return TRUE;
}

extern "C" BOOL WINAPI EndDocPrinter(HANDLE hPrinter) {
    sim::enter_call("EndDocPrinter");
    auto ph = sim::printer_handle(hPrinter);
    if (!ph) return FALSE;
    if (sim::injected_fault("EndDocPrinter", ERROR_PRINT_CANCELLED)) {
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    if (!ph->in_doc) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    Printer& p = *ph->printer;
    if (DWORD error = world().spooler().take_fault(p.config.name, "EndDocPrinter")) {
        SetLastError(error);
        kernel().record("spool", "EndDocPrinter on " + quoted(p.config.name) + " failed with error " + std::to_string(error));
        return FALSE;
    }
    ph->in_doc = false;
    ph->in_page = false;
    if (p.jobs_in_progress) --p.jobs_in_progress;
    sim::SpoolDocument doc = std::move(ph->doc);
    ph->doc = sim::SpoolDocument();
    doc.finished = kernel().now();
    const size_t shown = std::min<size_t>(doc.bytes.size(), 32);
    kernel().record("spool", "document job " + std::to_string(doc.job_id) + " to " + quoted(p.config.name) + ": " +
                                 quoted(doc.name) + " " + doc.datatype + " " + std::to_string(doc.bytes.size()) +
                                 " bytes: " + sim::Transcript::escape(doc.bytes.data(), shown) +
                                 (shown < doc.bytes.size() ? "..." : ""));
    // Keep the printer alive while its model runs: the model may reconfigure the spooler.
    std::shared_ptr<Printer> keep = ph->printer;
    if (keep->config.model) keep->config.model->on_document(doc);
    ++keep->documents_finished;
    keep->bytes_finished += doc.bytes.size();
    keep->documents.push_back(std::move(doc));
    if (keep->documents_kept)
        while (keep->documents.size() > keep->documents_kept) keep->documents.pop_front();
    return TRUE;
}

extern "C" DWORD WINAPI GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                                        LPDWORD pcbNeeded) {
    sim::enter_call("GetPrinterDataA");
    auto ph = world().handles().get<PrinterHandle>(hPrinter);
    if (!ph || ph->printer->removed) return ERROR_INVALID_HANDLE;
    if (!pcbNeeded) return ERROR_INVALID_PARAMETER;
    *pcbNeeded = 0;
    if (sim::injected_fault("GetPrinterDataA", RPC_S_SERVER_UNAVAILABLE)) return RPC_S_SERVER_UNAVAILABLE;
    Printer& p = *ph->printer;
    const std::string name = pValueName ? pValueName : "";
    uint32_t type = REG_NONE;
    std::vector<uint8_t> value;
    DWORD result = world().spooler().take_fault(p.config.name, "GetPrinterDataA");
    if (result == 0) {
        if (p.config.model) {
            result = p.config.model->get_data(name, &type, &value);
        } else {
            auto it = p.data.find(sim::lower(name));
            if (it == p.data.end()) {
                result = ERROR_FILE_NOT_FOUND;
            } else {
                type = it->second.first;
                value = it->second.second;
            }
        }
    }
    if (result == ERROR_SUCCESS) {
        *pcbNeeded = static_cast<DWORD>(value.size());
        if (!pData && nSize > 0) {
            result = ERROR_INVALID_PARAMETER;
        } else if (nSize < value.size()) {
            result = ERROR_MORE_DATA;
        } else {
            if (!value.empty()) std::memcpy(pData, value.data(), value.size());
            if (pType) *pType = type;
        }
    }
    kernel().record("spool", "GetPrinterDataA " + quoted(p.config.name) + " " + quoted(name) + " -> " +
                                 std::to_string(result) + ", " + std::to_string(*pcbNeeded) + " bytes (buffer " +
                                 std::to_string(nSize) + ")");
    return result;
}

extern "C" DWORD WINAPI SetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData) {
    sim::enter_call("SetPrinterDataA");
    auto ph = world().handles().get<PrinterHandle>(hPrinter);
    if (!ph || ph->printer->removed) return ERROR_INVALID_HANDLE;
    if (sim::injected_fault("SetPrinterDataA", RPC_S_SERVER_UNAVAILABLE)) return RPC_S_SERVER_UNAVAILABLE;
    Printer& p = *ph->printer;
    const std::string name = pValueName ? pValueName : "";
    DWORD result;
    if (!pData && cbData > 0) {
        result = ERROR_INVALID_PARAMETER;
    } else if (!(ph->access & PRINTER_ACCESS_ADMINISTER)) {
        // Printer data belongs to the printer's configuration: writing it takes administer access.
        result = ERROR_ACCESS_DENIED;
    } else if ((result = world().spooler().take_fault(p.config.name, "SetPrinterDataA")) == 0) {
        std::vector<uint8_t> bytes(pData, pData + cbData);
        if (p.config.model) {
            result = p.config.model->set_data(name, Type, bytes);
        } else {
            p.data[sim::lower(name)] = {Type, bytes};
            result = ERROR_SUCCESS;
        }
    }
    kernel().record("spool", "SetPrinterDataA " + quoted(p.config.name) + " " + quoted(name) + " type " +
                                 std::to_string(Type) + ", " + std::to_string(cbData) + " bytes -> " +
                                 std::to_string(result));
    return result;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    sim::enter_call("ClosePrinter");
    // A handle of a printer that was uninstalled meanwhile may still be closed.
    auto ph = world().handles().get<PrinterHandle>(hPrinter);
    if (!ph) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    world().handles().close(hPrinter);
    return TRUE;
}
