#include "devices/label_app.h"

#include <algorithm>
#include <stdexcept>

#include "win32/components.h"
#include "win32/files.h"
#include "win32/spooler.h"
#include "world/world.h"

namespace sim {

namespace {

LabelApp* app_of(void* self) { return static_cast<LabelApp*>(ComObject::from(self)->context); }

// The method table entries: plain functions taking the interface pointer first.
HRESULT WINAPI la_print(void* self, BSTR file, BSTR printer, BSTR driver, BSTR port) {
    return app_of(self)->print(file, printer, driver, port);
}
HRESULT WINAPI la_open(void* self) { return app_of(self)->open_window(); }
HRESULT WINAPI la_setup_14(void* self, LONG value) { return app_of(self)->set_setup_value(14, value); }
HRESULT WINAPI la_setup_16(void* self, LONG value) { return app_of(self)->set_setup_value(16, value); }
HRESULT WINAPI la_job_number(void* self, LONG job) { return app_of(self)->set_job_number(job); }
HRESULT WINAPI la_owner(void* self, BSTR owner) { return app_of(self)->set_owner(owner); }

std::string quoted(const std::string& s) { return "\"" + Transcript::escape(s) + "\""; }

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Spools `bytes` as one raw document to `printer` through the spooler calls, as the application
// does when it prints. Empty on success, else what failed.
std::string spool(const std::string& printer, const std::string& doc_name, const std::string& bytes) {
    HANDLE h = nullptr;
    if (!OpenPrinterA(const_cast<LPSTR>(printer.c_str()), &h, nullptr))
        return "OpenPrinterA failed (" + std::to_string(GetLastError()) + ")";
    DOC_INFO_1A di = {const_cast<LPSTR>(doc_name.c_str()), nullptr, const_cast<LPSTR>("RAW")};
    std::string failed;
    if (!StartDocPrinterA(h, 1, reinterpret_cast<LPBYTE>(&di))) {
        failed = "StartDocPrinterA failed (" + std::to_string(GetLastError()) + ")";
    } else {
        DWORD written = 0;
        if (!StartPagePrinter(h)) {
            failed = "StartPagePrinter failed";
        } else {
            if (!WritePrinter(h, const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written) ||
                written != bytes.size())
                failed = "WritePrinter failed";
            if (!EndPagePrinter(h) && failed.empty()) failed = "EndPagePrinter failed";
        }
        // A document with a failure is abandoned: closing the handle cancels it.
        if (failed.empty() && !EndDocPrinter(h)) failed = "EndDocPrinter failed";
    }
    ClosePrinter(h);
    return failed;
}

}  // namespace

std::string utf8_from_wide(const WCHAR* text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string LabelAppCall::text() const {
    std::string s = std::to_string(method) + "(";
    for (size_t i = 0; i < args.size(); ++i) s += (i ? ", " : "") + args[i];
    return s + ")";
}

LabelApp::LabelApp(const LabelAppConfig& config) : config_(config) {}

std::vector<int> LabelApp::call_sequence() const {
    std::vector<int> out;
    for (const LabelAppCall& c : calls_) out.push_back(c.method);
    return out;
}

HRESULT LabelApp::log(int method, std::vector<std::string> args, HRESULT result) {
    LabelAppCall call;
    call.time = has_kernel() ? kernel().now() : 0;
    call.method = method;
    call.args = std::move(args);
    call.result = result;
    if (has_kernel()) kernel().record("label-app", "method " + call.text() + (result == S_OK ? "" : " -> E_FAIL"));
    calls_.push_back(std::move(call));
    ++calls_received_;
    if (config_.calls_kept)
        while (calls_.size() > config_.calls_kept) calls_.pop_front();
    return result;
}

HRESULT LabelApp::set_owner(BSTR owner) {
    owner_ = utf8_from_wide(owner);
    return log(28, {quoted(owner_)}, S_OK);
}

HRESULT LabelApp::open_window() {
    ++opened_;
    return log(10, {}, S_OK);
}

HRESULT LabelApp::set_setup_value(int method, LONG value) {
    (method == 14 ? setup14_ : setup16_) = value;
    return log(method, {std::to_string(value)}, S_OK);
}

HRESULT LabelApp::set_job_number(LONG job) {
    job_number_ = job;
    return log(24, {std::to_string(job)}, S_OK);
}

HRESULT LabelApp::print(BSTR file, BSTR printer, BSTR driver, BSTR port) {
    LabelAppPrint p;
    p.time = has_kernel() ? kernel().now() : 0;
    p.file = utf8_from_wide(file);
    p.printer = utf8_from_wide(printer);
    p.driver = utf8_from_wide(driver);
    p.port = utf8_from_wide(port);
    p.job_number = job_number_;
    p.file_found = has_world() && !p.file.empty() && world().files().exists(p.file);
    if (config_.require_file && !p.file_found) {
        p.why = "design file not found";
    } else if (!has_world() || !world().spooler().printer(p.printer)) {
        p.why = "no printer " + quoted(p.printer);
    } else {
        const std::string bytes = "label design " + p.file + " (print " + std::to_string(job_number_) + ")\r\n";
        p.why = spool(p.printer, base_name(p.file), bytes);
        p.printed = p.why.empty();
    }
    const HRESULT hr = p.printed ? S_OK : E_FAIL;
    log(9, {quoted(p.file), quoted(p.printer), quoted(p.driver), quoted(p.port)}, hr);
    if (has_kernel())
        kernel().record("label-app", p.printed ? "printed " + quoted(base_name(p.file)) + " on " + quoted(p.printer) +
                                                     (p.file_found ? "" : " (design file not found)")
                                               : "nothing printed: " + p.why);
    prints_.push_back(std::move(p));
    ++prints_asked_;
    if (config_.prints_kept)
        while (prints_.size() > config_.prints_kept) prints_.pop_front();
    return hr;
}

std::shared_ptr<LabelApp> install_label_app(World& world, const LabelAppConfig& config) {
    IID iid;
    CLSID clsid;
    if (!parse_guid(kLabelAppIid, &iid) || !parse_guid(config.clsid, &clsid))
        throw std::invalid_argument("label application: malformed CLSID " + config.clsid);
    auto app = std::make_shared<LabelApp>(config);
    ComObject* o = world.components().make_com_object("LabelApp", std::max<size_t>(config.methods, 29), {iid});
    o->context = app.get();
    o->set_method(9, reinterpret_cast<void*>(&la_print));
    o->set_method(10, reinterpret_cast<void*>(&la_open));
    o->set_method(14, reinterpret_cast<void*>(&la_setup_14));
    o->set_method(16, reinterpret_cast<void*>(&la_setup_16));
    o->set_method(24, reinterpret_cast<void*>(&la_job_number));
    o->set_method(28, reinterpret_cast<void*>(&la_owner));
    app->object_ = o;
    // The class keeps the application alive as long as the world's components do.
    world.components().add_com_class(kLabelAppProgId, clsid, [app, iid](const IID& want) -> void* {
        if (!same_guid(want, iid) && !same_guid(want, kIID_IUnknown)) return nullptr;
        return app->object()->as_interface();
    });
    return app;
}

}  // namespace sim
