#include "devices/robot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

namespace sim {

namespace {

const char* const kCommands[] = {"_SI", "_SV", "_KILL", "_RESET", "_PICK", "_TRAY", "_PTI", "_PTO", "_MOVE:"};

// Both checks run for every byte the robot receives: plain byte compares, no strings made.
bool is_command_prefix(const std::string& s) {
    for (const char* c : kCommands)
        if (s.size() <= std::strlen(c) && std::memcmp(c, s.data(), s.size()) == 0) return true;
    return false;
}

bool is_whole_command(const std::string& s) {
    for (const char* c : kCommands)
        if (s.size() == std::strlen(c) && std::memcmp(c, s.data(), s.size()) == 0) return s != "_MOVE:";
    return false;
}

bool is_printer_letter(char c) { return c == 'S' || c == 'I'; }
bool is_recorder_letter(char c) { return c >= 'A' && c <= 'D'; }

std::string ms_text(Micros t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu ms", static_cast<unsigned long long>(t / kMs));
    return buf;
}

std::string disc_text(const Disc& d) { return "disc " + std::to_string(d.id); }

}  // namespace

std::string ReceivedCommand::line() const {
    std::string s = std::to_string(time / kMs) + " ";
    switch (kind) {
        case Kind::Command:
            return s + Transcript::escape(text);
        case Kind::Invalid:
            return s + "invalid \"" + Transcript::escape(text) + "\"";
        case Kind::Partial:
            return s + "partial \"" + Transcript::escape(text) + "\" dropped";
    }
    return s;
}

RobotConfig RobotConfig::older_model() {
    RobotConfig c;
    c.banner = "ZORVIK DUPLICATOR VERSION:";
    c.model = "N";
    c.firmware = "1.05";
    c.drive_code = '2';
    c.recorders = 2;
    return c;
}

Robot::Robot(const RobotConfig& config)
    : config_(config),
      rng_(has_kernel() ? kernel().rng().fork(config.rng_salt) : Rng(config.rng_salt)),
      position_(config.home_position) {
    for (char c : std::string("12345")) stacks_[c] = std::make_unique<Stack>(config_.stack_capacity);
    for (char c : std::string("GH")) stacks_[c] = std::make_unique<Stack>(config_.reject_capacity);
    for (int i = 0; i < 4; ++i) {
        if (i < config_.recorders) {
            simple_trays_[i] = std::make_shared<SimpleRecorderTray>(config_.recorder_trays_open);
            recorders_[i] = simple_trays_[i];
        }
    }
    printer_ = std::make_shared<AbsentPrinter>();
    laminator_ = std::make_shared<AbsentHolder>("no laminator");
    // Input bins first, in the order they are emptied, then any other stack given a count.
    std::string order = config_.input_bins;
    for (const auto& kv : config_.initial_discs)
        if (order.find(kv.first) == std::string::npos) order += kv.first;
    for (char c : order) {
        Stack* s = stack(c);
        if (!s) continue;
        auto it = config_.initial_discs.find(c);
        int n = it != config_.initial_discs.end() ? it->second : config_.discs_per_input_bin;
        if (config_.input_bins.find(c) == std::string::npos && it == config_.initial_discs.end()) n = 0;
        for (int i = 0; i < n && s->can_accept(nullptr); ++i) s->put(new_disc());
    }
}

Robot::~Robot() = default;

// ---------------------------------------------------------------------------------------------
// Bookkeeping helpers

void Robot::note(const std::string& text) const {
    if (has_kernel()) kernel().record("robot", text);
}

void Robot::later(Micros delay, std::function<void()> fn) {
    std::weak_ptr<int> alive = alive_;
    kernel().after(delay, [alive, fn = std::move(fn)] {
        if (!alive.expired()) fn();
    });
}

Disc Robot::new_disc() {
    Disc d;
    d.id = next_id_++;
    return d;
}

Stack* Robot::stack(char letter) const {
    auto it = stacks_.find(letter);
    return it == stacks_.end() ? nullptr : it->second.get();
}

DiscHolder* Robot::holder(char letter) const {
    if (Stack* s = stack(letter)) return s;
    if (is_recorder_letter(letter)) return recorders_[letter - 'A'].get();
    if (is_printer_letter(letter)) return printer_.get();
    if (letter == 'E') return laminator_.get();
    return nullptr;
}

bool Robot::valid_position(char letter) const { return holder(letter) != nullptr; }

// ---------------------------------------------------------------------------------------------
// State

char Robot::state() const {
    if (activity_ == Activity::WaitingPrinter) return 'W';
    if (activity_ != Activity::None) return 'B';
    return paused_ ? 'P' : 'I';
}

std::string Robot::status_frame() const {
    std::string f(11, '\0');
    f[0] = 'S';
    f[1] = 10;
    f[2] = state();
    f[3] = position_;
    f[4] = config_.auxiliary;
    f[5] = error_;
    f[6] = printer_->printer_state();
    f[7] = printer_->tray_state();
    f[8] = picker_ ? 'O' : 'X';
    unsigned sum = 0;
    for (int i = 0; i < 9; ++i) sum += static_cast<uint8_t>(f[i]);
    f[9] = static_cast<char>(sum & 0xFF);
    f[10] = '$';
    return f;
}

std::string Robot::version_line() const {
    return config_.banner + config_.model + " " + config_.firmware + " " + config_.drive_code + "\r\n";
}

// ---------------------------------------------------------------------------------------------
// The byte stream

void Robot::on_byte(uint8_t byte) {
    if (!powered_) return;
    parse(byte);
}

void Robot::parse(uint8_t byte) {
    const Micros now = kernel().now();
    if (!parse_buffer_.empty() && now - last_byte_at_ > config_.partial_command_timeout) {
        note("partial command \"" + Transcript::escape(parse_buffer_) + "\" dropped after silence");
        log_received(last_byte_at_ + config_.partial_command_timeout, parse_buffer_, ReceivedCommand::Kind::Partial);
        parse_buffer_.clear();
    }
    last_byte_at_ = now;
    const char c = static_cast<char>(byte);
    if (resync_) {
        if (c != '_') return;
        resync_ = false;
        parse_buffer_ = "_";
        return;
    }
    if (parse_buffer_.empty()) {
        if (c == '_') {
            parse_buffer_ = "_";
        } else {
            invalid_command(std::string(1, c));
            resync_ = true;
        }
        return;
    }
    parse_buffer_ += c;
    if (parse_buffer_.size() == 7 && parse_buffer_.compare(0, 6, "_MOVE:") == 0) {
        parse_buffer_.clear();
        if (!valid_position(c)) {
            invalid_command("_MOVE:" + std::string(1, c));
            return;
        }
        const std::string command = "_MOVE:" + std::string(1, c);
        log_received(now, command, ReceivedCommand::Kind::Command);
        motion_command(command);
        return;
    }
    if (is_whole_command(parse_buffer_)) {
        const std::string command = parse_buffer_;
        parse_buffer_.clear();
        log_received(now, command, ReceivedCommand::Kind::Command);
        execute(command);
        return;
    }
    if (is_command_prefix(parse_buffer_)) return;
    // Cannot become a command any more.
    if (c == '_') {
        invalid_command(parse_buffer_.substr(0, parse_buffer_.size() - 1));
        parse_buffer_ = "_";
    } else {
        invalid_command(parse_buffer_);
        parse_buffer_.clear();
        resync_ = true;
    }
}

void Robot::invalid_command(const std::string& bytes) {
    log_received(kernel().now(), bytes, ReceivedCommand::Kind::Invalid);
    set_error('D', "invalid command \"" + Transcript::escape(bytes) + "\"");
}

void Robot::log_received(Micros time, const std::string& text, ReceivedCommand::Kind kind) {
    received_.push_back(ReceivedCommand{time, text, kind, received_seq_++});
    const ReceivedCommand& c = received_.back();
    // By index: a listener may add another one; one removed meanwhile is only emptied.
    for (size_t i = 0; i < received_listeners_.size(); ++i)
        if (received_listeners_[i].second) received_listeners_[i].second(c);
    if (config_.received_retained)
        while (received_.size() > config_.received_retained) received_.pop_front();
}

int Robot::on_received(std::function<void(const ReceivedCommand&)> fn) {
    received_listeners_.emplace_back(next_received_listener_, std::move(fn));
    return next_received_listener_++;
}

void Robot::remove_received_listener(int id) {
    for (auto& l : received_listeners_)
        if (l.first == id) l.second = nullptr;
}

void Robot::execute(const std::string& command) {
    if (command == "_SI") {
        reply(true);
    } else if (command == "_SV") {
        note("_SV: version " + Transcript::escape(version_line()));
        reply(false);
    } else if (command == "_KILL") {
        command_kill();
    } else if (command == "_RESET" || command == "_PICK") {
        motion_command(command);
    } else {
        command_tray(command);
    }
}

// ---------------------------------------------------------------------------------------------
// Replies and line faults

void Robot::reply(bool is_frame) {
    Micros delay = is_frame ? config_.reply_delay : config_.version_reply_delay;
    std::string late_note;
    const RobotLineFaults& lf = config_.line;
    if (rng_.chance(lf.power_cut_probability)) {
        const Micros off = rng_.between(lf.power_cut_min, std::max(lf.power_cut_min, lf.power_cut_max));
        note(std::string("line fault: power cut for ") + ms_text(off) + " instead of answering " +
             (is_frame ? "_SI" : "_SV"));
        power_off_for(off);
        return;
    }
    if (rng_.chance(lf.late_probability)) {
        const Micros extra = rng_.between(lf.late_min, std::max(lf.late_min, lf.late_max));
        delay += extra;
        late_note = std::string("line fault: reply to ") + (is_frame ? "_SI" : "_SV") + " late by " + ms_text(extra);
    }
    const uint64_t serial = power_serial_;
    later(delay, [this, is_frame, serial, late_note] {
        if (!powered_ || serial != power_serial_) return;
        send_reply(is_frame, late_note);
    });
}

void Robot::damage_reply_at(Micros at, ReplyDamage how) {
    auto pos = std::upper_bound(scheduled_damage_.begin(), scheduled_damage_.end(), at,
                                [](Micros t, const std::pair<Micros, ReplyDamage>& e) { return t < e.first; });
    scheduled_damage_.insert(pos, {at, how});
}

void Robot::send_reply(bool is_frame, const std::string& late_note) {
    if (!late_note.empty()) note(late_note);
    std::string bytes = is_frame ? status_frame() : version_line();
    const RobotLineFaults& lf = config_.line;
    std::optional<ReplyDamage> how;
    if (is_frame && !scheduled_damage_.empty() && kernel().now() >= scheduled_damage_.front().first) {
        // A damage set for this time wins over the drawn ones, and draws nothing.
        how = scheduled_damage_.front().second;
        scheduled_damage_.pop_front();
    } else if (rng_.chance(lf.damage_probability)) {
        std::vector<ReplyDamage> kinds;
        if (lf.garbage_before) kinds.push_back(ReplyDamage::Garbage);
        if (lf.bad_checksum) kinds.push_back(ReplyDamage::Checksum);
        if (lf.dropped_bytes) kinds.push_back(ReplyDamage::Dropped);
        if (lf.no_reply) kinds.push_back(ReplyDamage::Nothing);
        if (!kinds.empty()) how = kinds[rng_.below(kinds.size())];
    }
    if (how && !damage(&bytes, *how, is_frame)) return;
    if (line_) line_->device_send(bytes);
}

bool Robot::damage(std::string* bytes, ReplyDamage how, bool is_frame) {
    const char* what = is_frame ? "status frame" : "version line";
    switch (how) {
        case ReplyDamage::Garbage: {
            const size_t n = rng_.between(1, 8);
            std::string garbage;
            for (size_t i = 0; i < n; ++i) garbage.push_back(static_cast<char>(rng_.below(256)));
            note(std::string("line fault: ") + std::to_string(n) + " garbage bytes before the " + what);
            *bytes = garbage + *bytes;
            return true;
        }
        case ReplyDamage::Checksum: {
            // The checksum byte of a frame; one character of the text of a version line.
            const size_t at = is_frame ? 9 : rng_.below(bytes->size() - 2);
            (*bytes)[at] = static_cast<char>(static_cast<uint8_t>((*bytes)[at]) + 1 + rng_.below(255));
            note(std::string("line fault: ") +
                 (is_frame ? "bad checksum in the status frame" : "corrupted character in the version line"));
            return true;
        }
        case ReplyDamage::Dropped: {
            const size_t n = rng_.between(1, 3);
            for (size_t i = 0; i < n && !bytes->empty(); ++i) bytes->erase(rng_.below(bytes->size()), 1);
            note(std::string("line fault: ") + std::to_string(n) + " bytes dropped from the " + what);
            return true;
        }
        case ReplyDamage::Nothing:
            note(std::string("line fault: no reply to ") + (is_frame ? "_SI" : "_SV"));
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Commands

// Why a motion command cannot run now although the robot would otherwise take it, or nullptr.
// "_RESET" is never refused.
const char* Robot::motion_refused(const std::string& command) const {
    if (command == "_RESET") return nullptr;
    if (paused_) return "paused";
    if (error_ != '.') return "error pending";
    return nullptr;
}

void Robot::motion_command(const std::string& command) {
    if (const char* why = motion_refused(command)) {
        note(command + " ignored: " + why + (error_ != '.' && !paused_ ? std::string(" (") + error_ + ")" : ""));
        return;
    }
    if (activity_ != Activity::None) {
        if (buffer_.size() >= config_.command_buffer_size) {
            set_error('D', "command buffer full, " + command + " dropped");
            return;
        }
        buffer_.push_back(command);
        note(command + " buffered (" + std::to_string(buffer_.size()) + " waiting)");
        return;
    }
    run_motion(command);
}

void Robot::run_motion(const std::string& command) {
    if (on_motion_) on_motion_(command);
    if (command == "_RESET")
        command_reset();
    else if (command == "_PICK")
        command_pick();
    else
        command_move(command[6]);
}

void Robot::run_buffered() {
    while (activity_ == Activity::None && !buffer_.empty()) {
        const std::string command = buffer_.front();
        buffer_.pop_front();
        if (const char* why = motion_refused(command)) {
            note(command + " dropped from the buffer: " + why +
                 (error_ != '.' && !paused_ ? std::string(" (") + error_ + ")" : ""));
            continue;
        }
        run_motion(command);
    }
}

void Robot::command_move(char letter) {
    const std::string command = std::string("_MOVE:") + letter;
    if (system_errors_ > 0) {
        --system_errors_;
        set_error('E', "system error instead of " + command);
        return;
    }
    note(command + ": move to " + letter);
    const bool fails = fail_moves_ > 0;
    if (fails) --fail_moves_;
    const Micros duration = letter == position_ ? config_.same_position_move_time : config_.move_time;
    start(Activity::Moving, duration, [this, letter, fails] {
        if (fails) {
            set_error('C', std::string("movement error on the way to ") + letter + ", arm still at " + position_);
            return;
        }
        position_ = letter;
        note(std::string("at ") + letter);
    });
}

void Robot::command_pick() {
    if (system_errors_ > 0) {
        --system_errors_;
        set_error('E', "system error instead of _PICK");
        return;
    }
    note(std::string("_PICK: ") + (picker_ ? "drop off at " : "pick up at ") + position_);
    begin_pick_or_drop();
}

void Robot::command_kill() {
    if (error_ == '.') {
        note("_KILL: no error pending");
        return;
    }
    note(std::string("_KILL: error ") + error_ + " cleared");
    error_ = '.';
    retry_pick_at_ = 0;
}

void Robot::command_reset() {
    note(std::string("_RESET: error cleared, arm to home position ") + config_.home_position +
         (picker_ ? " (" + disc_text(*picker_) + " stays in the picker)" : std::string()));
    error_ = '.';
    retry_pick_at_ = 0;
    paused_ = false;
    start(Activity::Resetting, config_.reset_time, [this] {
        position_ = config_.home_position;
        note(std::string("reset done: at ") + position_);
    });
}

void Robot::command_tray(const std::string& command) {
    if (activity_ == Activity::Resetting) {
        note(command + " ignored: resetting");
        return;
    }
    const PrinterLink::TrayCommand tc = command == "_PTI"   ? PrinterLink::TrayCommand::In
                                        : command == "_PTO" ? PrinterLink::TrayCommand::Out
                                                            : PrinterLink::TrayCommand::Toggle;
    const char* what = tc == PrinterLink::TrayCommand::In    ? "printer tray in"
                       : tc == PrinterLink::TrayCommand::Out ? "printer tray out"
                                                             : "printer tray in or out";
    note(command + ": " + what + (printer_->tray_state() == 'X' ? " (printer does not answer)" : ""));
    printer_->tray_command(tc);
}

// ---------------------------------------------------------------------------------------------
// Motions

void Robot::start(Activity activity, Micros duration, std::function<void()> done) {
    set_activity(activity);
    const uint64_t serial = ++activity_serial_;
    later(duration, [this, serial, done = std::move(done)] {
        if (serial != activity_serial_ || !powered_) return;
        set_activity(Activity::None);
        done();
        run_buffered();
        end_of_activity();
    });
}

void Robot::set_activity(Activity activity) {
    const Micros now = kernel().now();
    if (activity_ == Activity::None && activity != Activity::None) busy_since_ = now;
    if (activity_ != Activity::None && activity == Activity::None) busy_total_ += now - busy_since_;
    activity_ = activity;
}

Micros Robot::busy_time() const {
    return busy_total_ + (activity_ != Activity::None ? kernel().now() - busy_since_ : 0);
}

void Robot::end_of_activity() {
    if (activity_ == Activity::None && paused_) note("paused");
}

void Robot::begin_pick_or_drop() {
    if (is_printer_letter(position_) && printer_->tray_moving()) {
        // The arm waits above the printer until its tray stops.
        if (activity_ != Activity::WaitingPrinter) note("waiting for the printer tray");
        set_activity(Activity::WaitingPrinter);
        const uint64_t serial = ++activity_serial_;
        later(100 * kMs, [this, serial] {
            if (serial != activity_serial_ || !powered_) return;
            begin_pick_or_drop();
        });
        return;
    }
    if (picker_)
        start(Activity::Dropping, config_.drop_time, [this] { finish_drop(); });
    else
        start(Activity::Picking, config_.pick_time, [this] { finish_pick(); });
}

void Robot::finish_pick() {
    DiscHolder* h = holder(position_);
    const std::string at(1, position_);
    if (h && h->has_disc()) {
        bool mispick = false;
        if (miss_picks_ > 0) {
            // The picker's sensor misses the disc: "A" as for an empty place, and Pick tries again.
            --miss_picks_;
            retry_pick_at_ = position_;
            set_error('A', "no disc seen at " + at + " (a disc is there)");
            return;
        }
        if (fail_picks_ > 0) {
            --fail_picks_;
            mispick = true;
        } else if (rng_.chance(config_.mispick_probability)) {
            mispick = true;
        }
        if (mispick) {
            retry_pick_at_ = position_;
            set_error('F', "disc not picked at " + at);
            return;
        }
    }
    std::string why = "nothing there";
    std::optional<Disc> d = h ? h->take(&why) : std::nullopt;
    if (!d) {
        retry_pick_at_ = position_;
        set_error('A', "nothing to pick at " + at + ": " + why);
        return;
    }
    picker_ = d;
    note("pick from " + at + ": " + disc_text(*d));
}

void Robot::finish_drop() {
    if (!picker_) return;
    const Disc d = *picker_;
    picker_.reset();
    DiscHolder* h = holder(position_);
    std::string why = "nothing there";
    const std::string at(1, position_);
    if (h && h->can_accept(&why)) {
        h->put(d);
        note("drop at " + at + ": " + disc_text(d));
        return;
    }
    lost_.push_back(LostDisc{d, position_, why, kernel().now()});
    note("lost " + disc_text(d) + " at " + at + ": " + why);
}

void Robot::set_error(char code, const std::string& why) {
    if (error_ != '.') {
        note(std::string("error ") + code + ": " + why + " (error " + error_ + " still pending)");
        return;
    }
    error_ = code;
    note(std::string("error ") + code + ": " + why);
    raised_alarm();
}

void Robot::raised_alarm() {
    ++alarm_serial_;
    if (on_alarm_) on_alarm_();
}

void Robot::raise_error(char code, const std::string& why) {
    if (!powered_) return;
    set_error(code, why);
}

// ---------------------------------------------------------------------------------------------
// The operator

void Robot::press_pause() {
    if (!powered_) return;
    // The firmware finishes a motion in progress before it honours the pause: busy wins over
    // paused in state(), and no new motion starts while paused.
    paused_ = !paused_;
    if (paused_) raised_alarm();
    if (activity_ != Activity::None)
        note(paused_ ? "operator: Pause (after the motion)" : "operator: Pause again (no pause)");
    else
        note(paused_ ? "operator: Pause (paused)" : "operator: Pause (resumed)");
}

void Robot::press_pick() {
    if (!powered_) return;
    if (activity_ != Activity::None || paused_) {
        note(std::string("operator: Pick ignored: ") + (paused_ ? "paused" : "busy"));
        return;
    }
    if ((error_ == 'A' || error_ == 'F') && retry_pick_at_ == position_ && !picker_) {
        note(std::string("operator: Pick (error ") + error_ + " cleared, pick again at " + position_ + ")");
        error_ = '.';
        retry_pick_at_ = 0;
        begin_pick_or_drop();
        return;
    }
    note("operator: Pick (nothing to retry)");
}

void Robot::press_pause_and_pick() {
    if (!powered_) return;
    note(error_ == '.' ? std::string("operator: Pause+Pick (no error pending)")
                       : std::string("operator: Pause+Pick (error ") + error_ + " cleared)");
    error_ = '.';
    retry_pick_at_ = 0;
}

size_t Robot::refill(char letter, size_t n) {
    Stack* s = letter >= '1' && letter <= '5' ? stack(letter) : nullptr;
    if (!s) return 0;
    size_t added = 0;
    while (added < n && s->can_accept(nullptr)) {
        s->put(new_disc());
        ++added;
    }
    note("operator: " + std::to_string(added) + " blank discs added to " + std::string(1, letter) +
         (added < n ? " (stack full)" : ""));
    return added;
}

size_t Robot::empty(char letter, const std::function<bool(const Disc&)>& leave) {
    Stack* s = stack(letter);
    if (!s) return 0;
    size_t taken = 0, left = 0;
    for (const Disc& d : s->take_all()) {
        if (leave && leave(d)) {
            s->put(d);  // bottom first: the pile keeps its order
            ++left;
        } else {
            removed_.push_back(d);
            ++taken;
        }
    }
    note("operator: " + std::to_string(taken) + " discs taken off " + std::string(1, letter) +
         (left ? ", " + std::to_string(left) + " left on it" : ""));
    return taken;
}

// ---------------------------------------------------------------------------------------------
// Power

void Robot::power_off() {
    if (!powered_) return;
    powered_ = false;
    ++power_serial_;
    ++activity_serial_;
    set_activity(Activity::None);
    parse_buffer_.clear();
    resync_ = false;
    buffer_.clear();
    note(std::string("power off") + (picker_ ? " (" + disc_text(*picker_) + " stays in the picker)" : ""));
}

void Robot::power_on() {
    if (powered_) return;
    powered_ = true;
    position_ = config_.home_position;
    error_ = '.';
    paused_ = false;
    retry_pick_at_ = 0;
    note(std::string("power on: idle at ") + position_);
}

void Robot::power_off_for(Micros duration) {
    power_off();
    later(duration, [this] { power_on(); });
}

void Robot::power_off_at(Micros when, Micros duration) {
    at(when, [duration](Robot& r) { r.power_off_for(duration); });
}

void Robot::at(Micros when, std::function<void(Robot&)> action) {
    std::weak_ptr<int> alive = alive_;
    kernel().at(when, [this, alive, action = std::move(action)] {
        if (!alive.expired()) action(*this);
    });
}

void Robot::after(Micros delay, std::function<void(Robot&)> action) { at(kernel().now() + delay, std::move(action)); }

// ---------------------------------------------------------------------------------------------
// Wiring

void Robot::connect_recorder(char position, std::shared_ptr<DiscHolder> tray) {
    if (!is_recorder_letter(position)) return;
    const int i = position - 'A';
    recorders_[i] = std::move(tray);
    simple_trays_[i].reset();
}

DiscHolder* Robot::recorder(char position) const {
    return is_recorder_letter(position) ? recorders_[position - 'A'].get() : nullptr;
}

SimpleRecorderTray* Robot::simple_tray(char position) const {
    return is_recorder_letter(position) ? simple_trays_[position - 'A'].get() : nullptr;
}

bool Robot::set_tray_open(char position, bool open) {
    SimpleRecorderTray* t = simple_tray(position);
    if (!t) return false;
    t->set_open(open);
    note(std::string("recorder tray ") + position + (open ? " opened" : " closed"));
    return true;
}

void Robot::connect_printer(std::shared_ptr<PrinterLink> printer) {
    printer_ = printer ? std::move(printer) : std::make_shared<AbsentPrinter>();
    std::weak_ptr<int> alive = alive_;
    printer_->connect_error_hook([this, alive](char code) {
        if (!alive.expired()) raise_error(code, "printer error");
    });
}

void Robot::connect_laminator(std::shared_ptr<DiscHolder> laminator) {
    laminator_ = laminator ? std::move(laminator) : std::make_shared<AbsentHolder>("no laminator");
}

DiscId Robot::place_new_disc(char place) {
    DiscHolder* h = holder(place);
    if (!h || !h->can_accept(nullptr)) return 0;
    const Disc d = new_disc();
    h->put(d);
    note("world: new " + disc_text(d) + " placed at " + std::string(1, place));
    return d.id;
}

// ---------------------------------------------------------------------------------------------
// Where the discs are

std::vector<DiscId> Robot::discs_at(const std::string& place) const {
    std::vector<DiscId> ids;
    auto add = [&ids](const std::vector<Disc>& discs) {
        for (const Disc& d : discs) ids.push_back(d.id);
    };
    if (place == "picker") {
        if (picker_) ids.push_back(picker_->id);
    } else if (place == "lost") {
        for (const LostDisc& l : lost_) ids.push_back(l.disc.id);
    } else if (place == "removed") {
        add(removed_);
    } else if (place.size() == 1) {
        if (const DiscHolder* h = holder(place[0])) add(h->discs());
    }
    return ids;
}

size_t Robot::count_at(const std::string& place) const { return discs_at(place).size(); }

namespace {
// Every place a disc can be, by the name place_of() gives it ("I" is the printer, named "S").
const char* const kPlaces[] = {"1", "2", "3", "4", "5", "A", "B", "C", "D", "S",
                               "E", "G", "H", "picker", "lost", "removed"};
}  // namespace

std::string Robot::place_of(DiscId id) const {
    for (const char* p : kPlaces) {
        const std::vector<DiscId> ids = discs_at(p);
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) return p;
    }
    return "";
}

std::optional<Disc> Robot::disc(DiscId id) const {
    auto find_in = [id](const std::vector<Disc>& discs) -> std::optional<Disc> {
        for (const Disc& d : discs)
            if (d.id == id) return d;
        return std::nullopt;
    };
    if (picker_ && picker_->id == id) return picker_;
    for (const LostDisc& l : lost_)
        if (l.disc.id == id) return l.disc;
    if (auto d = find_in(removed_)) return d;
    for (const char* p : kPlaces) {
        const std::string place = p;
        if (place.size() != 1) continue;
        if (const DiscHolder* h = holder(place[0]))
            if (auto d = find_in(h->discs())) return d;
    }
    return std::nullopt;
}

std::string Robot::check_conservation() const {
    // One (disc, place) pair per sighting, sorted: a long job has seen thousands of discs, and
    // this stays a few bytes each.
    std::vector<std::pair<DiscId, uint8_t>> seen;
    const size_t place_count = sizeof kPlaces / sizeof kPlaces[0];
    for (size_t p = 0; p < place_count; ++p)
        for (DiscId id : discs_at(kPlaces[p])) seen.emplace_back(id, static_cast<uint8_t>(p));
    std::sort(seen.begin(), seen.end());
    std::ostringstream problems;
    size_t i = 0;
    for (DiscId id = 1; id < next_id_; ++id) {
        while (i < seen.size() && seen[i].first < id) ++i;
        size_t end = i;
        while (end < seen.size() && seen[end].first == id) ++end;
        if (end == i) {
            problems << "disc " << id << " is nowhere; ";
        } else if (end - i > 1) {
            problems << "disc " << id << " is in " << end - i << " places:";
            for (size_t k = i; k < end; ++k) problems << ' ' << kPlaces[seen[k].second];
            problems << "; ";
        }
        i = end;
    }
    for (size_t k = 0; k < seen.size(); ++k) {
        const DiscId id = seen[k].first;
        if ((id == 0 || id >= next_id_) && (k == 0 || seen[k - 1].first != id))
            problems << "disc " << id << " was never created; ";
    }
    return problems.str();
}

std::string Robot::describe() const {
    std::ostringstream o;
    o << "robot " << (powered_ ? "on" : "off") << ", state " << state() << ", error " << error_ << ", arm at "
      << position_ << ", picker " << (picker_ ? disc_text(*picker_) : std::string("empty")) << "\n";
    o << "stacks";
    for (char c : std::string("12345GH")) o << ' ' << c << ':' << stack(c)->size();
    o << "\nrecorders";
    for (int i = 0; i < 4; ++i) {
        const char letter = static_cast<char>('A' + i);
        if (!recorders_[i]) continue;
        o << ' ' << letter << ':' << recorders_[i]->discs().size();
        if (simple_trays_[i]) o << (simple_trays_[i]->is_open() ? "(open)" : "(closed)");
    }
    o << "\nprinter " << printer_->printer_state() << " tray " << printer_->tray_state() << ": "
      << printer_->discs().size() << ", laminator: " << laminator_->discs().size() << "\n";
    o << "created " << discs_created() << ", removed " << removed_.size() << ", lost " << lost_.size();
    for (const LostDisc& l : lost_) o << " [" << disc_text(l.disc) << " at " << l.place << ": " << l.reason << "]";
    o << "\n";
    return o.str();
}

}  // namespace sim
