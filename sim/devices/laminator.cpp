#include "devices/laminator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "world/world.h"

namespace sim {

namespace {

std::string hex2(unsigned v) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

std::string bytes_text(const std::vector<uint8_t>& bytes) {
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        s += hex2(bytes[i]);
    }
    return s;
}

const char* command_name(uint8_t code) {
    switch (code) {
        case kLamCmdTrayIn: return "tray in";
        case kLamCmdTrayOut: return "tray out";
        case kLamCmdLaminate: return "laminate";
        case kLamCmdHeater: return "heater start";
    }
    return nullptr;
}

std::string disc_text(const Disc& d) { return "disc " + std::to_string(d.id); }

constexpr uint32_t kRibbonMax = 0xFFFFFF;

}  // namespace

const char* lam_corruption_name(LamCorruption c) {
    switch (c) {
        case LamCorruption::BadChecksum: return "bad checksum";
        case LamCorruption::BadStartMark: return "bad start mark";
        case LamCorruption::BadEndMark: return "bad end mark";
        case LamCorruption::Short: return "79 bytes";
        case LamCorruption::Long: return "81 bytes";
        case LamCorruption::WrongState: return "state W";
        case LamCorruption::Random: return "random";
    }
    return "?";
}

const char* lam_fault_name(LamFault f) {
    switch (f) {
        case LamFault::Error: return "error";
        case LamFault::CoverOpen: return "cover open";
        case LamFault::FallsOff: return "disc falls off";
    }
    return "?";
}

Laminator::Laminator(const LaminatorConfig& config)
    : config_(config),
      rng_(has_kernel() ? kernel().rng().fork(config.rng_salt) : Rng(config.rng_salt)),
      tray_out_(config.tray_out),
      heater_(config.heater_on ? config.heater_ready : 'X'),
      ribbon_(config.ribbon > kRibbonMax ? kRibbonMax : config.ribbon) {}

Laminator::~Laminator() = default;

void Laminator::note(const std::string& text) const {
    if (has_kernel()) kernel().record("laminator", text);
}

void Laminator::at(Micros when, std::function<void(Laminator&)> action) {
    std::weak_ptr<int> alive = alive_;
    kernel().at(when, [this, alive, action] {
        if (!alive.expired()) action(*this);
    });
}

void Laminator::after(Micros delay, std::function<void()> fn) {
    std::weak_ptr<int> alive = alive_;
    kernel().after(delay, [alive, fn] {
        if (!alive.expired()) fn();
    });
}

// ---------------------------------------------------------------------------------------------
// State

char Laminator::state() const {
    if (cover_open_) return 'C';
    return busy_ ? 'B' : 'I';
}

char Laminator::tray_status() const {
    if (!tray_out_) return disc_ && config_.report_disc_in ? 'D' : 'I';
    return disc_ ? 'W' : 'O';
}

uint32_t Laminator::laminations_left() const {
    return config_.ribbon_per_lamination ? ribbon_ / config_.ribbon_per_lamination : 0;
}

std::vector<uint8_t> Laminator::status_record() const {
    namespace o = lam_offset;
    std::vector<uint8_t> r(kLamRecordSize, 0);
    r[o::kStart] = 0x01;
    r[o::kLength] = config_.record_length;
    for (size_t i = 0; i < o::kFirmwareSize; ++i)
        r[o::kFirmware + i] = static_cast<uint8_t>(i < config_.firmware.size() ? config_.firmware[i] : ' ');
    r[o::kLastCommand] = last_command_;
    r[o::kError] = error_;
    r[o::kState] = static_cast<uint8_t>(state());
    r[o::kTray] = static_cast<uint8_t>(tray_status());
    r[o::kHeater] = static_cast<uint8_t>(heater_);
    r[o::kRibbon] = static_cast<uint8_t>(ribbon_ >> 16);
    r[o::kRibbon + 1] = static_cast<uint8_t>(ribbon_ >> 8);
    r[o::kRibbon + 2] = static_cast<uint8_t>(ribbon_);
    // The sum covers length - 1 bytes from offset 1; a length beyond the record is cut to it.
    uint8_t sum = 0;
    for (size_t i = 1; i < config_.record_length && i < o::kChecksum; ++i) sum = static_cast<uint8_t>(sum + r[i]);
    r[o::kChecksum] = sum;
    r[o::kEnd] = 0x04;
    return r;
}

std::vector<Disc> Laminator::discs() const {
    std::vector<Disc> out = single_as_list(disc_);
    if (fallen_) out.push_back(*fallen_);
    return out;
}

uint32_t Laminator::lamination_count(DiscId id) const {
    auto it = per_disc_.find(id);
    return it == per_disc_.end() ? 0 : it->second;
}

std::vector<DiscId> Laminator::laminated_twice() const {
    std::vector<DiscId> out;
    for (const auto& [id, n] : per_disc_)
        if (n > 1) out.push_back(id);
    return out;
}

std::vector<uint8_t> Laminator::executed_codes() const {
    std::vector<uint8_t> out;
    for (const LaminatorCommand& c : commands_)
        if (c.executed) out.push_back(c.bytes[2]);
    return out;
}

// ---------------------------------------------------------------------------------------------
// The driver

uint32_t Laminator::set_data(const std::string& value_name, uint32_t type, const std::vector<uint8_t>& bytes) {
    if (value_name != "MARLUNE" || type != REG_BINARY || bytes.size() != 1 || bytes[0] != 0x00) {
        note("write of \"" + Transcript::escape(value_name) + "\" type " + std::to_string(type) + " (" +
             bytes_text(bytes) + ") refused");
        return ERROR_INVALID_PARAMETER;
    }
    if (silent_reads_ != 0 && silence_ == LamSilence::WriteFails) {
        if (silent_reads_ > 0) --silent_reads_;
        note("status request: no answer (write failed)");
        return ERROR_GEN_FAILURE;
    }
    ++status_requests_;
    note("status requested");
    return ERROR_SUCCESS;
}

uint32_t Laminator::get_data(const std::string& value_name, uint32_t* type, std::vector<uint8_t>* out) {
    if (value_name != "MARLUNE") {
        note("read of \"" + Transcript::escape(value_name) + "\": no such value");
        return ERROR_FILE_NOT_FOUND;
    }
    ++status_reads_;
    if (silent_reads_ != 0 && silence_ != LamSilence::WriteFails) {
        if (silent_reads_ > 0) --silent_reads_;
        if (silence_ == LamSilence::Empty) {
            *type = REG_BINARY;
            out->clear();
            note("status read: silent (no bytes)");
            return ERROR_SUCCESS;
        }
        note("status read: silent (error " + std::to_string(ERROR_GEN_FAILURE) + ")");
        return ERROR_GEN_FAILURE;
    }
    std::vector<uint8_t> record = status_record();
    std::string what = std::string("status read: ") + state() + " tray " + tray_status() + " heater " + heater_ +
                       " error " + hex2(error_) + " last " + hex2(last_command_) + " ribbon " +
                       std::to_string(ribbon_);
    std::optional<LamCorruption> how;
    if (corrupt_count_ != 0) {
        if (corrupt_count_ > 0) --corrupt_count_;
        how = corruption_;
    } else if (rng_.chance(config_.corrupt_probability)) {
        how = LamCorruption::Random;
    }
    if (how) {
        LamCorruption kind = *how;
        if (kind == LamCorruption::Random) kind = static_cast<LamCorruption>(rng_.below(6));
        record = corrupted(std::move(record), kind);
        what += std::string(", corrupted: ") + lam_corruption_name(kind);
    }
    note(what);
    *type = REG_BINARY;
    *out = std::move(record);
    return ERROR_SUCCESS;
}

std::vector<uint8_t> Laminator::corrupted(std::vector<uint8_t> r, LamCorruption how) {
    namespace o = lam_offset;
    switch (how) {
        case LamCorruption::BadChecksum: {
            // One byte the sum covers, other than the length and the state, so that only the sum
            // gives it away; a record whose sum covers no such byte gets a wrong sum instead.
            const size_t end = std::min<size_t>(config_.record_length, o::kChecksum);
            if (end <= 2) {
                r[o::kChecksum] = static_cast<uint8_t>(r[o::kChecksum] + 1);
                break;
            }
            size_t at = 2 + rng_.below(end - 2);
            if (at == o::kState) at = at + 1 < end ? at + 1 : 2;
            r[at] = static_cast<uint8_t>(r[at] ^ (1u << rng_.below(8)));
            break;
        }
        case LamCorruption::BadStartMark: r[o::kStart] = 0x02; break;
        case LamCorruption::BadEndMark: r[o::kEnd] = 0x03; break;
        case LamCorruption::Short: r.pop_back(); break;
        case LamCorruption::Long: r.push_back(0x00); break;
        case LamCorruption::WrongState: {
            r[o::kState] = 'W';
            uint8_t sum = 0;
            for (size_t i = 1; i < config_.record_length && i < o::kChecksum; ++i) sum = static_cast<uint8_t>(sum + r[i]);
            r[o::kChecksum] = sum;
            break;
        }
        case LamCorruption::Random: break;
    }
    return r;
}

uint32_t Laminator::status() {
    if (silent_reads_ != 0) return PRINTER_STATUS_OFFLINE;
    if (error_ || cover_open_) return PRINTER_STATUS_ERROR;
    return busy_ ? PRINTER_STATUS_BUSY : 0;
}

void Laminator::on_document(const SpoolDocument& doc) {
    LaminatorCommand log;
    log.time = kernel().now();
    log.document = doc.name;
    log.bytes = doc.bytes;
    const std::string head = "command " + bytes_text(doc.bytes) + " (\"" + Transcript::escape(doc.name) + "\")";
    auto refuse_command = [&](const std::string& why) {
        log.note = why;
        note(head + " refused: " + why);
        log_command(log);
    };
    if (silent_reads_ != 0) return refuse_command("laminator silent, document lost");
    const std::vector<uint8_t>& b = doc.bytes;
    if (b.size() != 8) return refuse_command(std::to_string(b.size()) + " bytes, not 8");
    if (b[0] != 0x1B || b[1] != 0x04 || b[3] || b[4] || b[5] || b[6]) return refuse_command("not a command");
    uint8_t sum = 0;
    for (size_t i = 0; i < 7; ++i) sum = static_cast<uint8_t>(sum + b[i]);
    if (sum != b[7]) return refuse_command("checksum " + hex2(b[7]) + ", should be " + hex2(sum));
    const uint8_t code = b[2];
    if (!command_name(code)) return refuse_command("unknown command " + hex2(code));
    if (code != kLamCmdHeater) {
        if (cover_open_) return refuse_command("cover open");
        if (error_) return refuse_command("error " + hex2(error_) + " pending");
        if (busy_) return refuse_command("busy");
        if (code == kLamCmdLaminate && ribbon_ < config_.ribbon_per_lamination) {
            error_ |= kLamErrRibbonOut;
            return refuse_command("ribbon out (" + std::to_string(ribbon_) + " left), error " + hex2(error_));
        }
    }
    execute(code, log);
    note(head + ": " + log.note);
    log_command(log);
}

void Laminator::log_command(LaminatorCommand log) {
    commands_.push_back(std::move(log));
    ++commands_received_;
    if (config_.commands_kept)
        while (commands_.size() > config_.commands_kept) commands_.pop_front();
}

void Laminator::execute(uint8_t code, LaminatorCommand& log) {
    log.executed = true;
    last_command_ = code;
    switch (code) {
        case kLamCmdTrayIn:
        case kLamCmdTrayOut: {
            const bool out = code == kLamCmdTrayOut;
            if (tray_out_ == out) {
                log.note = std::string("tray already ") + (out ? "out" : "in");
                return;
            }
            log.note = out ? "tray moving out" : "tray moving in";
            busy_ = true;
            move_tray(out, out ? Phase::TrayOut : Phase::TrayIn, [this] {
                busy_ = false;
                phase_ = Phase::None;
            });
            return;
        }
        case kLamCmdLaminate:
            busy_ = true;
            stopped_ = false;
            rerun_ = false;
            lamination_had_disc_ = disc_.has_value();
            log.note = disc_ ? "laminating " + disc_text(*disc_) : "laminating (no disc on the tray)";
            if (tray_out_) {
                move_tray(false, Phase::LamIn, [this] { laminate_step(); });
            } else {
                laminate_step();
            }
            return;
        case kLamCmdHeater:
            if (heater_ == 'X') {
                log.note = "heater warming up";
                start_heater();
            } else {
                log.note = heater_ == 'H' ? "heater already warming up" : "heater already warm";
            }
            return;
    }
}

void Laminator::start_heater() {
    heater_ = 'H';
    const uint64_t serial = ++heater_serial_;
    after(config_.warm_up_time, [this, serial] {
        if (serial != heater_serial_) return;
        heater_ = config_.heater_ready;
        note(std::string("heater ready (") + heater_ + ")");
        if (phase_ == Phase::LamHeat) laminate_step();
    });
}

void Laminator::move_tray(bool out, Phase phase, std::function<void()> done) {
    phase_ = phase;
    tray_moving_ = true;
    const uint64_t serial = ++activity_serial_;
    after(out ? config_.tray_out_time : config_.tray_in_time, [this, serial, out, done] {
        if (serial != activity_serial_) return;
        tray_moving_ = false;
        tray_out_ = out;
        note(std::string(out ? "tray out" : "tray in") +
             (disc_ ? " with " + disc_text(*disc_) : std::string(out ? " (empty)" : "")));
        done();
    });
}

// The lamination from the moment the tray is in: heat, laminate, push the tray out.
void Laminator::laminate_step() {
    if (heater_ == 'X') start_heater();
    if (heater_ == 'H') {
        phase_ = Phase::LamHeat;
        note("lamination waits for the heater");
        return;
    }
    if (!lamination_had_disc_ || !disc_) {
        // Nothing to laminate: the tray comes straight out again.
        move_tray(true, Phase::LamOut, [this] {
            busy_ = false;
            phase_ = Phase::None;
            note("lamination ended: no disc");
        });
        return;
    }
    if (failing_laminations_ != 0 && lamination_fault_ != LamFault::FallsOff && !rerun_) {
        if (failing_laminations_ > 0) --failing_laminations_;
        if (lamination_fault_ == LamFault::CoverOpen) {
            cover_open_ = true;
            stop_lamination("cover opened");
        } else {
            error_ |= lamination_error_;
            stop_lamination("error " + hex2(error_));
        }
        return;
    }
    phase_ = Phase::Laminating;
    const uint64_t serial = ++activity_serial_;
    after(config_.laminate_time, [this, serial] {
        if (serial != activity_serial_) return;
        finish_lamination();
    });
}

void Laminator::finish_lamination() {
    if (disc_) {
        disc_->laminated = true;
        ribbon_ -= std::min(ribbon_, config_.ribbon_per_lamination);
        ++laminations_;
        ++per_disc_[disc_->id];
        note("laminated " + disc_text(*disc_) + ", ribbon " + std::to_string(ribbon_));
    }
    bool falls = false;
    if (disc_ && failing_laminations_ != 0 && lamination_fault_ == LamFault::FallsOff && !rerun_) {
        if (failing_laminations_ > 0) --failing_laminations_;
        falls = true;
    }
    move_tray(true, Phase::LamOut, [this, falls] {
        busy_ = false;
        phase_ = Phase::None;
        if (falls && disc_) {
            fallen_ = disc_;
            disc_.reset();
            note(disc_text(*fallen_) + " fell off the tray");
        }
    });
}

void Laminator::stop_lamination(const std::string& why) {
    ++activity_serial_;  // the pending step of the lamination does not come
    tray_moving_ = false;
    tray_out_ = false;
    busy_ = false;
    phase_ = Phase::None;
    stopped_ = true;
    note("lamination stopped (" + why + "), tray in" + (disc_ ? " with " + disc_text(*disc_) : ""));
}

// ---------------------------------------------------------------------------------------------
// The tray as a place for the robot

bool Laminator::can_accept(std::string* why) const {
    if (tray_moving_) return refuse(why, "laminator tray moving");
    if (!tray_out_) return refuse(why, "laminator tray in");
    if (disc_) return refuse(why, "laminator tray holds a disc");
    return true;
}

std::optional<Disc> Laminator::take(std::string* why) {
    if (tray_moving_ || !tray_out_) {
        refuse(why, tray_moving_ ? "laminator tray moving" : "laminator tray in");
        return std::nullopt;
    }
    if (!disc_) {
        refuse(why, "laminator tray empty");
        return std::nullopt;
    }
    return take_single(disc_, why);
}

// ---------------------------------------------------------------------------------------------
// World controls

void Laminator::go_silent(int reads, LamSilence how) {
    silent_reads_ = reads;
    silence_ = how;
    if (reads == 0) {
        note("world: answering again");
        return;
    }
    const char* what = how == LamSilence::ReadFails ? "reads fail" : how == LamSilence::Empty ? "reads empty"
                                                                                              : "writes fail";
    note("world: silent (" + std::string(what) + ", " + (reads < 0 ? std::string("until further notice")
                                                                     : std::to_string(reads) + " requests") + ")");
}

void Laminator::corrupt_next(int count, LamCorruption how) {
    corrupt_count_ = count;
    corruption_ = how;
    note("world: next " + std::to_string(count) + " records corrupt (" + lam_corruption_name(how) + ")");
}

void Laminator::raise_error(uint8_t bits) {
    error_ |= bits;
    note("world: error " + hex2(bits) + " raised, pending " + hex2(error_));
}

void Laminator::clear_error() {
    error_ = 0;
    note("world: error cleared");
}

void Laminator::open_cover() {
    cover_open_ = true;
    note("world: cover opened");
}

void Laminator::close_cover() {
    cover_open_ = false;
    note("world: cover closed");
}

void Laminator::set_ribbon(uint32_t ribbon) {
    ribbon_ = ribbon > kRibbonMax ? kRibbonMax : ribbon;
    note("world: ribbon " + std::to_string(ribbon_));
}

void Laminator::heater_off() {
    ++heater_serial_;
    heater_ = 'X';
    note("world: heater off");
    if (phase_ == Phase::LamHeat) {
        // The lamination waited for a heater that went off: the heater control gives up.
        error_ |= kLamErrHeaterCtrl;
        stop_lamination("error " + hex2(error_));
    }
}

void Laminator::fail_next_laminations(int count, LamFault how, uint8_t error) {
    failing_laminations_ = count;
    lamination_fault_ = how;
    lamination_error_ = error;
    note("world: " + (count < 0 ? std::string("every lamination") : "next " + std::to_string(count) + " laminations") +
         " spoiled (" + lam_fault_name(how) + (how == LamFault::Error ? " " + hex2(error) : std::string()) + ")");
}

void Laminator::schedule_fault(Micros when, bool cover, uint8_t bits, Micros lasts) {
    at(when, [cover, bits, lasts](Laminator& lam) {
        if (cover) {
            lam.open_cover();
        } else {
            lam.raise_error(bits);
        }
        if (lam.phase_ == Phase::LamIn || lam.phase_ == Phase::LamHeat || lam.phase_ == Phase::Laminating)
            lam.stop_lamination(cover ? "cover opened" : "error " + hex2(lam.error_));
        if (lasts > 0)
            lam.at(kernel().now() + lasts, [cover, bits](Laminator& l) {
                if (cover) {
                    l.close_cover();
                } else {
                    l.error_ &= static_cast<uint8_t>(~bits);
                    l.note("world: error " + hex2(bits) + " gone by itself, pending " + hex2(l.error_));
                }
            });
    });
}

void Laminator::raise_error_at(Micros when, uint8_t bits, Micros lasts) { schedule_fault(when, false, bits, lasts); }

void Laminator::open_cover_at(Micros when, Micros lasts) { schedule_fault(when, true, 0, lasts); }

void Laminator::clear_faults() {
    failing_laminations_ = 0;
    note("world: lamination faults ended");
}

bool Laminator::press_laminate() {
    if (busy_ || error_ || cover_open_ || tray_moving_) {
        note("operator: Laminate pressed, nothing happens");
        return false;
    }
    if (stopped_) {
        stopped_ = false;
        rerun_ = true;
        busy_ = true;
        lamination_had_disc_ = disc_.has_value();
        note("operator: Laminate pressed, the stopped lamination runs again");
        laminate_step();
        return true;
    }
    if (tray_out_) {
        note("operator: Laminate pressed, nothing happens");
        return false;
    }
    note("operator: Laminate pressed, tray out");
    busy_ = true;
    move_tray(true, Phase::TrayOut, [this] {
        busy_ = false;
        phase_ = Phase::None;
    });
    return true;
}

bool Laminator::put_fallen_back() {
    if (!fallen_ || !can_accept()) {
        note("operator: cannot put a fallen disc back");
        return false;
    }
    disc_ = fallen_;
    fallen_.reset();
    note("operator: " + disc_text(*disc_) + " put back on the tray");
    return true;
}

void Laminator::set_tray_now(bool out) {
    // Whatever the laminator was doing ends here.
    ++activity_serial_;
    tray_moving_ = false;
    tray_out_ = out;
    busy_ = false;
    phase_ = Phase::None;
    note(std::string("world: tray ") + (out ? "out" : "in"));
}

// ---------------------------------------------------------------------------------------------

std::shared_ptr<Laminator> install_laminator(World& world, const LaminatorConfig& config) {
    auto lam = std::make_shared<Laminator>(config);
    PrinterConfig pc;
    pc.name = kLaminatorPrinterName;
    pc.port = config.port;
    pc.driver = config.driver;
    pc.comment = "Disc laminator";
    pc.model = lam;
    world.spooler().add_printer(pc);
    return lam;
}

}  // namespace sim
