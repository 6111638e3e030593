#include "devices/discs.h"

namespace sim {

bool refuse(std::string* why, const char* text) {
    if (why) *why = text;
    return false;
}

std::optional<Disc> take_single(std::optional<Disc>& slot, std::string* why) {
    if (!slot) {
        refuse(why, "tray empty");
        return std::nullopt;
    }
    std::optional<Disc> d = slot;
    slot.reset();
    return d;
}

std::vector<Disc> single_as_list(const std::optional<Disc>& slot) {
    if (slot) return {*slot};
    return {};
}

bool AbsentHolder::can_accept(std::string* why) const {
    if (why) *why = why_;
    return false;
}

std::optional<Disc> AbsentHolder::take(std::string* why) {
    if (why) *why = why_;
    return std::nullopt;
}

bool Stack::can_accept(std::string* why) const {
    if (discs_.size() >= capacity_) return refuse(why, "full");
    return true;
}

std::optional<Disc> Stack::take(std::string* why) {
    if (discs_.empty()) {
        refuse(why, "empty");
        return std::nullopt;
    }
    Disc d = discs_.back();
    discs_.pop_back();
    return d;
}

std::vector<Disc> Stack::take_all() {
    std::vector<Disc> all;
    all.swap(discs_);
    return all;
}

bool SimpleRecorderTray::can_accept(std::string* why) const {
    if (!open_) return refuse(why, "tray closed");
    if (disc_) return refuse(why, "tray holds a disc");
    return true;
}

std::optional<Disc> SimpleRecorderTray::take(std::string* why) {
    if (!open_) {
        refuse(why, "tray closed");
        return std::nullopt;
    }
    return take_single(disc_, why);
}

std::vector<Disc> SimpleRecorderTray::discs() const { return single_as_list(disc_); }

bool AbsentPrinter::can_accept(std::string* why) const { return refuse(why, "no printer"); }

std::optional<Disc> AbsentPrinter::take(std::string* why) {
    refuse(why, "no printer");
    return std::nullopt;
}

SimplePrinter::SimplePrinter(Micros move_time) : tray_move_time(move_time) {}
SimplePrinter::~SimplePrinter() = default;

char SimplePrinter::printer_state() const {
    if (!powered_ || silent_) return 'B';
    return moving_ ? 'B' : 'I';
}

char SimplePrinter::tray_state() const {
    if (!powered_ || silent_) return 'X';
    if (!tray_in_) return 'O';
    return report_disc_in && disc_ ? 'D' : 'I';
}

void SimplePrinter::go_silent() {
    if (silent_) return;
    silent_ = true;
    kernel().record("printer", "stops answering");
}

void SimplePrinter::tray_command(TrayCommand command) {
    if (!powered_ || silent_ || moving_) return;  // a busy, silent or switched-off printer does not listen
    const bool want_in = command == TrayCommand::In ? true : command == TrayCommand::Out ? false : !tray_in_;
    if (want_in == tray_in_) return;
    moving_ = true;
    const uint64_t serial = ++move_serial_;
    std::weak_ptr<int> alive = alive_;
    kernel().after(tray_move_time, [this, alive, serial, want_in] {
        if (alive.expired() || serial != move_serial_) return;
        moving_ = false;
        tray_in_ = want_in;
        kernel().record("printer", want_in ? "tray in" : "tray out");
    });
}

bool SimplePrinter::can_accept(std::string* why) const {
    if (!powered_) return refuse(why, "printer off");
    if (moving_) return refuse(why, "printer tray moving");
    if (tray_in_) return refuse(why, "printer tray in");
    if (disc_) return refuse(why, "printer tray holds a disc");
    return true;
}

std::optional<Disc> SimplePrinter::take(std::string* why) {
    if (!powered_ || moving_ || tray_in_) {
        refuse(why, !powered_ ? "printer off" : moving_ ? "printer tray moving" : "printer tray in");
        return std::nullopt;
    }
    if (!disc_) {
        refuse(why, "printer tray empty");
        return std::nullopt;
    }
    std::optional<Disc> d = disc_;
    disc_.reset();
    return d;
}

std::vector<Disc> SimplePrinter::discs() const {
    if (disc_) return {*disc_};
    return {};
}

}  // namespace sim
