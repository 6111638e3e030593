// Discs and the places of the autoloader that hold them.
//
// Every disc in the world has a number that never changes, so that a run can say where each one
// went. The robot (robot.h) owns the stacks, the picker and the bookkeeping of discs that fell or
// were taken out by the operator; the places it reaches but does not own — the recorder trays, the
// printer tray, the laminator — are other devices behind the small interfaces below. Until those
// devices are plugged in, the robot uses the simple stand-ins defined here: a recorder tray that
// the world opens and closes by hand, an absent printer and an absent laminator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel/kernel.h"

namespace sim {

using DiscId = uint32_t;

struct Disc {
    DiscId id = 0;
    // What has happened to the disc, set by the devices that do it.
    bool recorded = false;
    uint32_t prints = 0;  // labels printed on it (one is right; the printer counts every one)
    bool laminated = false;
};

// A place the arm can put a disc into or take one from.
class DiscHolder {
public:
    virtual ~DiscHolder() = default;
    // True when a disc dropped here now would stay. Otherwise, when `why` is given, says why not
    // ("tray closed", "full", "no printer" ...); a disc dropped anyway falls.
    virtual bool can_accept(std::string* why = nullptr) const = 0;
    // True when the arm would find a disc to pick here now.
    virtual bool has_disc() const = 0;
    // Puts a disc here; called only after can_accept() said yes.
    virtual void put(const Disc& disc) = 0;
    // Takes the disc the arm reaches; nothing when there is none (then `why` says why).
    virtual std::optional<Disc> take(std::string* why = nullptr) = 0;
    // Every disc held, also those out of the arm's reach (inside a closed drive, inside the
    // printer): the world's disc accounting reads this.
    virtual std::vector<Disc> discs() const = 0;
};

// For holders: stores `text` in `why` when given; returns false, so that `return refuse(...)`
// ends a can_accept().
bool refuse(std::string* why, const char* text);
// For holders of one disc: takes it out of `slot`, or says "tray empty".
std::optional<Disc> take_single(std::optional<Disc>& slot, std::string* why);
// For holders of one disc: the disc as a list for the world's accounting.
std::vector<Disc> single_as_list(const std::optional<Disc>& slot);

// A place where nothing is: every disc dropped there falls (an absent laminator, for instance).
class AbsentHolder : public DiscHolder {
public:
    explicit AbsentHolder(std::string why) : why_(std::move(why)) {}
    bool can_accept(std::string* why) const override;
    bool has_disc() const override { return false; }
    void put(const Disc&) override {}
    std::optional<Disc> take(std::string* why) override;
    std::vector<Disc> discs() const override { return {}; }

private:
    std::string why_;
};

// A pile of discs on the robot's deck: an input or output stack, or a reject position. Picking
// takes the top disc, dropping adds on top; a disc dropped on a full pile falls.
class Stack : public DiscHolder {
public:
    explicit Stack(size_t capacity) : capacity_(capacity) {}
    size_t capacity() const { return capacity_; }
    size_t size() const { return discs_.size(); }

    bool can_accept(std::string* why) const override;
    bool has_disc() const override { return !discs_.empty(); }
    void put(const Disc& disc) override { discs_.push_back(disc); }
    std::optional<Disc> take(std::string* why) override;
    // Bottom first.
    std::vector<Disc> discs() const override { return discs_; }
    // Everything on the pile leaves it (the operator lifts it off), bottom first.
    std::vector<Disc> take_all();

private:
    size_t capacity_;
    std::vector<Disc> discs_;
};

// A recorder's tray as the arm sees it, for as long as no recorder device is wired in: it holds one
// disc and the world opens or closes it by hand. A closed tray neither gives nor takes a disc; a
// disc inside stays there until the tray opens again.
class SimpleRecorderTray : public DiscHolder {
public:
    explicit SimpleRecorderTray(bool open = true) : open_(open) {}
    void set_open(bool open) { open_ = open; }
    bool is_open() const { return open_; }

    bool can_accept(std::string* why) const override;
    bool has_disc() const override { return open_ && disc_.has_value(); }
    void put(const Disc& disc) override { disc_ = disc; }
    std::optional<Disc> take(std::string* why) override;
    std::vector<Disc> discs() const override;

private:
    bool open_;
    std::optional<Disc> disc_;
};

// The disc printer as the robot sees it through its auxiliary cable: a state and a tray position
// that every status frame reports, tray commands the robot relays, and the tray itself as a place
// for discs (reachable only while it is out).
class PrinterLink : public DiscHolder {
public:
    enum class TrayCommand { In, Out, Toggle };
    // 'I' idle, 'B' busy or not answering.
    virtual char printer_state() const = 0;
    // 'I' or 'D' in, 'O' out, 'X' not answering.
    virtual char tray_state() const = 0;
    // True while the tray travels; the arm waits for it before it picks or drops at the printer.
    virtual bool tray_moving() const = 0;
    // "_PTI", "_PTO" and "_TRAY" as relayed by the robot.
    virtual void tray_command(TrayCommand command) = 0;
    // How the printer reports a printer error to the robot: called once when it is wired in; the
    // printer keeps the function and calls it with the error code ('B').
    using ErrorHook = std::function<void(char code)>;
    virtual void connect_error_hook(ErrorHook hook) { (void)hook; }
};

// No printer on the auxiliary cable: busy and not answering in every frame; a disc dropped at the
// printer position falls.
class AbsentPrinter : public PrinterLink {
public:
    char printer_state() const override { return 'B'; }
    char tray_state() const override { return 'X'; }
    bool tray_moving() const override { return false; }
    void tray_command(TrayCommand) override {}
    bool can_accept(std::string* why) const override;
    bool has_disc() const override { return false; }
    void put(const Disc&) override {}
    std::optional<Disc> take(std::string* why) override;
    std::vector<Disc> discs() const override { return {}; }
};

// A printer that is switched on but never prints: its tray goes in and out on command, taking
// `tray_move_time` of virtual time, during which the printer reports busy. The tray holds one disc;
// the arm reaches it only while the tray is out; with `report_disc_in` a tray that is in with a
// disc on it reports "D" instead of "I". A printer that has stopped answering (`go_silent`)
// reports busy with a tray that does not answer ("B", "X") and ignores the tray commands; its tray
// and the disc on it stay where they are. A base for the printing device, and enough for tests of
// the tray commands.
class SimplePrinter : public PrinterLink {
public:
    explicit SimplePrinter(Micros tray_move_time = 2 * kSecond);
    ~SimplePrinter() override;

    char printer_state() const override;
    char tray_state() const override;
    bool tray_moving() const override { return moving_; }
    void tray_command(TrayCommand command) override;
    void connect_error_hook(ErrorHook hook) override { error_hook_ = std::move(hook); }

    bool can_accept(std::string* why) const override;
    bool has_disc() const override { return !tray_in_ && !moving_ && disc_.has_value(); }
    void put(const Disc& disc) override { disc_ = disc; }
    std::optional<Disc> take(std::string* why) override;
    std::vector<Disc> discs() const override;

    // World controls: switch the printer off (state 'B', tray 'X') or on, put the tray where it is
    // at once, and report a printer error to the robot.
    void set_power(bool on) { powered_ = on; }
    void set_tray_in(bool in) { tray_in_ = in; }
    void raise_printer_error() { if (error_hook_) error_hook_('B'); }
    // The printer stops answering the robot for good (a hung printer, a loose auxiliary cable).
    virtual void go_silent();
    bool silent() const { return silent_; }
    Micros tray_move_time = 0;
    bool report_disc_in = false;

protected:
    // For a printer built on this one (the disc printer): the tray's state and the disc on it.
    bool powered_ = true;
    bool silent_ = false;
    bool tray_in_ = true;
    bool moving_ = false;
    uint64_t move_serial_ = 0;
    std::optional<Disc> disc_;
    ErrorHook error_hook_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace sim
