#include "devices/disc_printer.h"

#include <algorithm>
#include <cstring>

#include "kernel/transcript.h"
#include "world/world.h"

namespace sim {

namespace {

constexpr size_t kTessikAnswerSize = 64;
constexpr size_t kOtherAnswerSize = 32;
constexpr size_t kDevmodePrivateSize = 160;
constexpr size_t kDevmodeCartridgeOffset = 140;

void put_be32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v >> 24);
    out[at + 1] = static_cast<uint8_t>(v >> 16);
    out[at + 2] = static_cast<uint8_t>(v >> 8);
    out[at + 3] = static_cast<uint8_t>(v);
}

std::string quoted(const std::string& s) { return "\"" + Transcript::escape(s) + "\""; }

uint32_t largest(const InkCounters& ink, size_t from, size_t to) {
    uint32_t m = 0;
    for (size_t i = from; i < to; ++i) m = std::max(m, ink[i]);
    return m;
}

}  // namespace

const char* print_fault_name(PrintFault f) {
    switch (f) {
        case PrintFault::Error: return "printer error";
        case PrintFault::StaysBusy: return "stays busy";
        case PrintFault::StaysIdle: return "stays idle";
    }
    return "?";
}

DiscPrinter::DiscPrinter(const DiscPrinterConfig& config)
    : SimplePrinter(config.tray_move_time), config_(config), held_busy_(config.busy), failing_(config.failing_prints),
      fault_(config.fault), ink_(config.ink) {
    report_disc_in = config.report_disc_in;
    if (config_.cartridge < 0) config_.cartridge = tessik() ? 3 : 2;
    update_warnings();
    error_bits_ = 0;  // warnings already due at the start were asked about before
}

DiscPrinter::~DiscPrinter() = default;

void DiscPrinter::note(const std::string& text) const {
    if (has_kernel()) kernel().record("printer", text);
}

void DiscPrinter::after(Micros delay, std::function<void()> fn) {
    std::weak_ptr<int> alive = alive_;
    kernel().after(delay, [alive, fn] {
        if (!alive.expired()) fn();
    });
}

// ---------------------------------------------------------------------------------------------
// The auxiliary cable

char DiscPrinter::printer_state() const {
    if (!powered_ || silent_) return 'B';
    return printing_ || held_busy_ || moving_ ? 'B' : 'I';
}

void DiscPrinter::tray_command(TrayCommand command) {
    if (!powered_ || silent_ || moving_) return;  // a switched-off, silent or moving printer does not listen
    if (printing_ || held_busy_) {
        note("busy: tray command ignored");
        return;
    }
    const bool want_in = command == TrayCommand::In ? true : command == TrayCommand::Out ? false : !tray_in_;
    if (want_in == tray_in_) return;
    // A document that arrived while the tray travelled prints once it stops.
    move_tray(want_in, [this] { start_next(); });
}

void DiscPrinter::move_tray(bool in, std::function<void()> done) {
    moving_ = true;
    const uint64_t serial = ++move_serial_;
    after(tray_move_time, [this, serial, in, done] {
        if (serial != move_serial_) return;
        moving_ = false;
        tray_in_ = in;
        note(in ? "tray in" : "tray out");
        done();
    });
}

// ---------------------------------------------------------------------------------------------
// Printing

void DiscPrinter::on_document(const SpoolDocument& doc) {
    ++documents_;
    PrinterDocument d;
    d.time = has_kernel() ? kernel().now() : 0;
    d.name = doc.name;
    d.bytes = doc.bytes;
    recent_.push_back(d);
    if (config_.documents_kept)
        while (recent_.size() > config_.documents_kept) recent_.pop_front();
    if (!powered_) {
        ++documents_lost_;
        note("document " + quoted(doc.name) + " (" + std::to_string(doc.bytes.size()) + " bytes) lost: printer off");
        return;
    }
    note("document " + quoted(doc.name) + " (" + std::to_string(doc.bytes.size()) + " bytes) received");
    waiting_.push_back(std::move(d));
    start_next();
}

void DiscPrinter::start_next() {
    if (printing_ || held_busy_ || moving_ || !powered_ || silent_ || waiting_.empty()) return;
    PrinterDocument doc = std::move(waiting_.front());
    waiting_.pop_front();
    printing_ = true;
    if (!tray_in_) {
        note("pulls its tray in for " + quoted(doc.name));
        move_tray(true, [this, doc] { begin_print(doc); });
        return;
    }
    begin_print(std::move(doc));
}

void DiscPrinter::print_failed(const std::string& name, const char* why) {
    ++failed_prints_;
    if (disc_) ++failed_per_disc_[disc_->id];
    const std::string on = disc_ ? "disc " + std::to_string(disc_->id) : "nothing";
    note("print of " + quoted(name) + " on " + on + " fails: " + why);
}

void DiscPrinter::begin_print(PrinterDocument doc) {
    const uint64_t serial = ++print_serial_;
    const std::string on = disc_ ? "disc " + std::to_string(disc_->id) : "nothing";
    if (silent_) {
        // Fell silent while pulling its tray in for the document: it never prints.
        print_failed(doc.name, "printer silent");
        return;
    }
    if (failing_ != 0) {
        if (failing_ > 0) --failing_;
        print_failed(doc.name, print_fault_name(fault_));
        switch (fault_) {
            case PrintFault::StaysIdle:
                printing_ = false;
                start_next();
                return;
            case PrintFault::StaysBusy:
                stuck_ = true;
                return;
            case PrintFault::Error:
                after(config_.print_time / 2, [this, serial] {
                    if (serial != print_serial_) return;
                    printing_ = false;
                    note("printer error");
                    raise_printer_error();
                    start_next();
                });
                return;
        }
    }
    note("printing " + quoted(doc.name) + " on " + on);
    printing_name_ = doc.name;
    after(config_.print_time, [this, serial, name = doc.name] {
        if (serial == print_serial_) finish_print(name);
    });
}

void DiscPrinter::finish_print(const std::string& name) {
    printing_name_.clear();
    ++prints_;
    for (size_t i = 0; i < kInkCounters; ++i) ink_[i] += config_.ink_per_print[i];
    update_warnings();
    if (disc_) {
        ++disc_->prints;
        const uint32_t n = ++per_disc_[disc_->id];
        note("printed " + quoted(name) + " on disc " + std::to_string(disc_->id) +
             (n > 1 ? " (printed " + std::to_string(n) + " times)" : ""));
    } else {
        ++blank_prints_;
        note("printed " + quoted(name) + " on nothing");
    }
    printing_ = false;
    move_tray(false, [this] { start_next(); });
}

uint32_t DiscPrinter::print_count(DiscId id) const {
    auto it = per_disc_.find(id);
    return it == per_disc_.end() ? 0 : it->second;
}

uint32_t DiscPrinter::failed_print_count(DiscId id) const {
    auto it = failed_per_disc_.find(id);
    return it == failed_per_disc_.end() ? 0 : it->second;
}

void DiscPrinter::put(const Disc& disc) {
    SimplePrinter::put(disc);
    on_tray_.insert(disc.id);
}

std::vector<DiscId> DiscPrinter::printed_twice() const {
    std::vector<DiscId> out;
    for (const auto& [id, n] : per_disc_)
        if (n > 1) out.push_back(id);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Ink

InkCounters DiscPrinter::ink_used() const {
    InkCounters used = {};
    for (size_t i = 0; i < kInkCounters; ++i) used[i] = ink_[i] - config_.ink[i];
    return used;
}

void DiscPrinter::update_warnings() {
    if (!tessik()) return;
    const uint8_t before = warning_;
    if (config_.low_level[0] && largest(ink_, 0, 3) >= config_.low_level[0]) warning_ |= 0x01;
    if (config_.low_level[1] && largest(ink_, 3, 6) >= config_.low_level[1]) warning_ |= 0x02;
    if (warning_ != before) {
        error_bits_ |= 0x10;
        note("ink low: warning bits " + std::to_string(warning_));
    }
}

std::vector<uint8_t> DiscPrinter::ink_answer() const {
    if (tessik()) {
        std::vector<uint8_t> a(kTessikAnswerSize, 0);
        a[1] = static_cast<uint8_t>(a.size() - 2);
        a[3] = static_cast<uint8_t>(config_.cartridge);
        a[4] = warning_;
        for (size_t i = 0; i < 6; ++i) put_be32(a, 5 + 4 * i, ink_[i]);
        a[62] = error_bits_;
        return a;
    }
    std::vector<uint8_t> a(kOtherAnswerSize, 0);
    a[1] = static_cast<uint8_t>(a.size() - 2);
    a[2] = static_cast<uint8_t>(config_.cartridge);
    for (size_t i = 0; i < 4; ++i) put_be32(a, 4 + 4 * i, ink_[i]);
    return a;
}

uint32_t DiscPrinter::get_data(const std::string& value_name, uint32_t* type, std::vector<uint8_t>* out) {
    if (value_name != "MARLUNE") return ERROR_FILE_NOT_FOUND;
    ++ink_reads_;
    if (failing_reads_ != 0) {
        if (failing_reads_ > 0) --failing_reads_;
        note("ink read: no answer");
        return ERROR_GEN_FAILURE;
    }
    *type = REG_BINARY;
    *out = ink_answer();
    note("ink read: cartridge " + std::to_string(config_.cartridge) + ", counter 1 " + std::to_string(ink_[0]) +
         (tessik() ? ", warning " + std::to_string(warning_) + ", error " + std::to_string(error_bits_) : ""));
    error_bits_ &= static_cast<uint8_t>(~0x10);  // the printer asks for the warning once
    return ERROR_SUCCESS;
}

uint32_t DiscPrinter::set_data(const std::string& value_name, uint32_t type, const std::vector<uint8_t>& bytes) {
    (void)type;
    (void)bytes;
    if (value_name == "MARLUNE") ++ink_requests_;
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Faults

void DiscPrinter::fail_next_prints(int count, PrintFault how) {
    failing_ = count;
    fault_ = how;
    if (count) note("the next " + (count < 0 ? std::string("prints") : std::to_string(count) + " prints") + " fail: " +
                    print_fault_name(how));
}

void DiscPrinter::set_busy(bool busy) {
    if (busy == held_busy_) return;
    held_busy_ = busy;
    note(busy ? "held busy" : "no longer held busy");
    if (!busy) start_next();
}

void DiscPrinter::fail_ink_reads(int reads) { failing_reads_ = reads; }

void DiscPrinter::go_silent() {
    if (silent_) return;
    SimplePrinter::go_silent();
    if (!printing_name_.empty()) {
        ++print_serial_;  // the print under way never ends
        print_failed(printing_name_, "printer silent");
        printing_name_.clear();
    }
}

void DiscPrinter::raise_ink_warning(uint8_t warning, uint8_t error) {
    warning_ |= warning;
    error_bits_ |= error;
}

void DiscPrinter::clear_faults() {
    failing_ = 0;
    failing_reads_ = 0;
    held_busy_ = false;
    if (stuck_) {
        stuck_ = false;
        printing_ = false;
        ++print_serial_;
        note("the stuck print ends without printing");
    }
    start_next();
}

// ---------------------------------------------------------------------------------------------

std::vector<uint8_t> disc_printer_devmode(const std::string& name, uint32_t cartridge_value) {
    std::vector<uint8_t> priv(kDevmodePrivateSize, 0);
    for (size_t i = 0; i < 4; ++i) priv[kDevmodeCartridgeOffset + i] = static_cast<uint8_t>(cartridge_value >> (8 * i));
    return make_devmode(name, priv);
}

std::shared_ptr<DiscPrinter> install_disc_printer(World& world, const DiscPrinterConfig& config) {
    auto printer = std::make_shared<DiscPrinter>(config);
    PrinterConfig p;
    p.name = config.name;
    p.port = config.port;
    p.driver = config.driver.empty() ? config.name + " Driver" : config.driver;
    if (config.name.rfind("Varrow", 0) == 0 || config.name.rfind("Tessik 6", 0) == 0)
        p.devmode = disc_printer_devmode(config.name, config.driver_cartridge_value);
    p.model = printer;
    world.spooler().add_printer(p);
    return printer;
}

}  // namespace sim
