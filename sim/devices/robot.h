// The disc autoloader at the far end of the robot's serial cable: a Zorvik QIX (or an older model)
// with its firmware, its picker arm, its stacks of discs and the places the arm reaches.
//
// The wire
// --------
// Commands arrive as bare ASCII with no terminator and no checksum. The firmware parses the byte
// stream greedily against the commands it knows:
//
//     _SI  _SV  _KILL  _RESET  _PICK  _TRAY  _PTI  _PTO  _MOVE:<letter>
//
// Bytes are gathered from a "_". As soon as the gathered bytes spell a whole command, it runs (no
// command is the beginning of another, so greedy matching is unambiguous); "_MOVE:" takes exactly
// one more byte, the position letter. When the gathered bytes can no longer become a known
// command — a stray byte outside a command, an unknown command, a command cut short by a new "_",
// a position letter the machine does not have — that sequence is an invalid command: error "D" is
// raised once, and the parser skips bytes until the next "_", which starts a new command (a "_"
// that cut a command short starts the next one at once). A partial command followed by more than
// `partial_command_timeout` of silence is dropped quietly, as the firmware's input buffer is.
//
// Replies: "_SI" answers one 11-byte status frame after `reply_delay`:
//     "S", 10, state, position, auxiliary, error, printer state, printer tray, picker,
//     checksum (sum of the nine bytes before it, modulo 256), "$"
// built from the machine's state at the moment it is sent. "_SV" answers one version line after
// `version_reply_delay`, e.g. "ZORVIK QIX VERSION:R 1.13 A\r\n": banner, model letter, a blank,
// firmware version, a blank, drive-count code, CR LF. Status and version queries are answered in
// every state, also while the arm moves.
//
// The machine
// -----------
// States: "I" idle, "B" busy (moving, picking, dropping, resetting), "W" waiting for the printer
// (a pick or drop at the printer position waits while the printer tray travels), "P" paused.
//
// Motion commands are "_MOVE:", "_PICK" and "_RESET". While an error is pending or the robot is
// paused, "_MOVE:" and "_PICK" are ignored (each ignored command is written to the transcript).
// Otherwise a motion command that arrives while the robot is busy goes into the firmware's
// command buffer (`command_buffer_size`, 8 unless configured; a command beyond that is dropped and
// raises the invalid-command error "D"), and the buffered commands run in the order they came as
// soon as the current motion ends, each as if it had arrived at that moment: a buffered "_MOVE:"
// or "_PICK" that finds an error pending (the motion before it failed, say) or the robot paused is
// dropped from the buffer and written to the transcript, and the next one is looked at. A motion
// command that arrives while the robot is idle runs at once.
// A move takes `move_time` (`same_position_move_time` to the position the arm is already at);
// "_PICK" picks up when the picker is empty and drops off when it holds a disc, and takes
// `pick_time` or `drop_time`. The disc changes place when the pick or drop completes.
//   - A pick that finds no disc (empty stack, empty, closed or moving recorder tray, printer tray
//     in ...) raises "A"; a pick that fails although a disc is there raises "F" (seeded
//     probability, or scheduled); the disc then stays where it was.
//   - A drop where nothing can hold the disc (a closed, moving or occupied recorder tray, a printer
//     tray that is in, a full stack or reject position, an absent printer or laminator) lets the
//     disc fall: it is lost, the picker is empty, and the robot itself notices nothing (no error).
//   - A scheduled movement error ends the move after `move_time` with "C"; the arm stays at the
//     position it left. A scheduled system error raises "E" instead of running the next motion
//     command.
// So the host can write "_MOVE:G", then "_PICK" and "_RESET" while the arm still travels: the
// disc in the picker is put down at "G", then the robot resets.
// "_TRAY", "_PTI" and "_PTO" are relayed to the printer over the auxiliary cable whatever the
// arm does (ignored only while the robot resets); the printer moves its own tray.
// "_KILL" clears a pending error at once and moves nothing (buffered commands stay buffered).
// "_RESET" is always accepted, also with an error pending or paused: when the robot is idle it runs
// at once, while it is busy it is buffered behind the current motion like any motion command. It
// clears the error and the pause and brings the arm to the home position (`home_position`, "3"
// unless configured) in `reset_time`, reporting busy meanwhile. A disc in the picker stays there.
//
// An error stays pending — the robot idle with the error code in every frame — until "_KILL",
// "_RESET", or the operator clears it; a second error while one is pending does not replace it.
// An error raised while the arm moves (an invalid command, a printer error) does not stop the
// motion; the robot reports it once the motion is over.
//
// The operator at the machine: Pause toggles "P" (pressed during a motion, the motion finishes
// first); Pick, while an "A" or "F" from a pick is pending at the arm's position, clears it and
// tries the pick again (the operator has added discs or seated the disc); Pause and Pick together
// clear any error. The operator also refills stacks and lifts discs off stacks and reject positions
// (those discs leave the machine: counted as removed, not lost).
//
// Power: switched off, the robot is silent and ignores every byte; replies not yet sent are not
// sent; a motion in progress stops (a disc in the picker stays) and the command buffer empties.
// Switched on again, it is idle at the home position with no error and not paused.
//
// Line faults (seeded, each written to the transcript under "robot"): with `damage_probability`
// a reply is damaged in one of the enabled ways — garbage bytes before it, a corrupted checksum (a
// version line gets one corrupted character instead), bytes dropped from it, or no reply at all;
// with `late_probability` a reply is sent late by a random extra delay; with
// `power_cut_probability` the robot loses its power instead of answering, for a random time.
//
// Every disc has a number (1, 2, ... in the order the world creates them: the input bins "4", "2",
// "5", "1" are filled at construction, bottom first, so the first disc picked from "4" is its
// highest number). The robot accounts for every disc: on a stack ("1"-"5"), in a recorder tray
// ("A"-"D"), on the printer tray ("S", also reached as "I"), in the laminator ("E"), at a reject
// position ("G", "H"), in the picker, lost, or removed by the operator.
//
// The transcript (kind "robot") has each accepted command with what it does ("_MOVE:A: move to
// A", "_PICK buffered (1 waiting)", "pick from 4: disc 25", "drop at A: disc 25", "error F: ...",
// "lost disc 25 at A: tray closed"), every ignored or dropped command, every operator action and
// every fault; not the status queries.
//
// Apart from the transcript, the robot keeps a log of everything its parser made of the bytes it
// received (`received_commands()`): each complete command with the virtual time its last byte
// arrived — status and version queries included, whether the command then ran, was buffered or
// was ignored — each invalid byte sequence, and each partial command dropped after silence. The
// status queries alone come three times a second for as long as a job runs, so the log holds only
// the most recent `received_retained` entries; every entry has a sequence number, the total is
// counted, and listeners (`on_received`) see each entry as it is made.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/discs.h"
#include "kernel/kernel.h"
#include "kernel/rng.h"
#include "win32/serial.h"

namespace sim {

// The ways a reply can be damaged on the line.
enum class ReplyDamage { Garbage, Checksum, Dropped, Nothing };

struct RobotLineFaults {
    // Probability per reply (status frame or version line) that it is damaged in one of the
    // enabled ways, chosen with equal chance.
    double damage_probability = 0;
    bool garbage_before = true;    // 1..8 random bytes before the reply
    bool bad_checksum = true;      // the checksum byte changed (version line: one character)
    bool dropped_bytes = true;     // 1..3 bytes of the reply missing
    bool no_reply = true;          // nothing at all
    // Probability per reply that it is late by an extra delay in [late_min, late_max].
    double late_probability = 0;
    Micros late_min = 100 * kMs;
    Micros late_max = 1500 * kMs;
    // Probability per query that the robot loses its power instead of answering, for a random
    // time in [power_cut_min, power_cut_max].
    double power_cut_probability = 0;
    Micros power_cut_min = 2 * kSecond;
    Micros power_cut_max = 20 * kSecond;
};

struct RobotConfig {
    // Identity, as the version line tells it: banner + model + " " + firmware + " " + drive code.
    std::string banner = "ZORVIK QIX VERSION:";
    std::string model = "R";   // "R" a QIX; "N" or "Q" older models
    std::string firmware = "1.13";
    char drive_code = 'A';     // QIX: "A" 4 drives, "B" 2 ...; older models: "2", "Y" ...
    int recorders = 4;         // recorder positions the machine has: "A" up to "D"
    // An older, two-drive model without a laminator-capable firmware: "...ION:N 1.05 2\r\n".
    static RobotConfig older_model();

    // Replies.
    Micros reply_delay = 3 * kMs;
    Micros version_reply_delay = 8 * kMs;
    char auxiliary = '0';      // the auxiliary status byte of every frame

    // The arm.
    Micros move_time = 2500 * kMs;
    Micros same_position_move_time = 300 * kMs;
    Micros pick_time = 3 * kSecond;
    Micros drop_time = 3 * kSecond;
    Micros reset_time = 5 * kSecond;
    Micros partial_command_timeout = 500 * kMs;
    size_t command_buffer_size = 8;  // motion commands held while the robot is busy
    char home_position = '3';

    // Discs.
    std::string input_bins = "4251";     // filled at construction, in this order
    int discs_per_input_bin = 25;
    std::map<char, int> initial_discs;   // overrides per stack ("3" too), e.g. {{'4', 0}}
    size_t stack_capacity = 100;
    size_t reject_capacity = 25;
    bool recorder_trays_open = true;     // the stand-in recorder trays start open

    // Faults.
    double mispick_probability = 0;      // per pick where a disc is: "F"
    RobotLineFaults line;
    uint64_t rng_salt = 0x524F424F54ULL;

    // Entries of the log of received commands held in memory (0 = all of them): a few minutes
    // of a job, status queries included.
    size_t received_retained = 5000;
};

// One entry of the robot's log of received commands.
struct ReceivedCommand {
    enum class Kind {
        Command,  // a complete command ("_SI", "_MOVE:A" ...), whatever the robot then did with it
        Invalid,  // bytes that could not become a command (error "D")
        Partial,  // the start of a command dropped after silence
    };
    Micros time = 0;    // when the last byte arrived (a partial command: when it was dropped)
    std::string text;   // the bytes as received
    Kind kind = Kind::Command;
    uint64_t seq = 0;   // its place in the whole log: 0 for the first entry the robot made
    // "<virtual ms> <command>", e.g. "12503 _MOVE:G"; "7 invalid \"q\"";
    // "1040 partial \"_PI\" dropped". Bytes outside 0x20..0x7e are escaped.
    std::string line() const;
};

struct LostDisc {
    Disc disc;
    char place = 0;       // where it fell
    std::string reason;   // "tray closed", "no printer", "full" ...
    Micros when = 0;
};

class Robot : public SerialDevice {
public:
    explicit Robot(const RobotConfig& config = RobotConfig());
    ~Robot() override;

    // --- the serial device ---------------------------------------------------------------------
    void attached(SerialLine& line) override { line_ = &line; }
    void on_byte(uint8_t byte) override;

    // --- state, as the status frame reports it -------------------------------------------------
    char state() const;      // 'I', 'B', 'W', 'P'
    char error() const { return error_; }
    char position() const { return position_; }
    const std::optional<Disc>& picker() const { return picker_; }
    bool powered() const { return powered_; }
    bool paused() const { return paused_; }
    bool busy() const { return activity_ != Activity::None; }
    // Virtual time the arm has spent busy so far (moving, picking, dropping, resetting, waiting
    // above the printer), the motion now in progress included.
    Micros busy_time() const;
    std::string status_frame() const;   // the 11 bytes "_SI" would answer now
    std::string version_line() const;   // the line "_SV" answers
    // Motion commands waiting for the current motion to end, oldest first.
    const std::deque<std::string>& buffered_commands() const { return buffer_; }
    // What the parser made of the received bytes, in order (see the header comment): the most
    // recent entries, at most `received_retained` of them.
    const std::deque<ReceivedCommand>& received_commands() const { return received_; }
    // Entries made so far, held or not: the sequence number the next one gets.
    uint64_t received_count() const { return received_seq_; }
    // Calls `fn` with every entry from now on, as it is made; returns an id for
    // remove_received_listener().
    int on_received(std::function<void(const ReceivedCommand&)> fn);
    // Called when the robot's panel starts showing an error or a pause (one listener); every such
    // start counts alarm_serial() up, so a watcher can tell whether the one it saw still stands.
    void on_alarm(std::function<void()> fn) { on_alarm_ = std::move(fn); }
    uint64_t alarm_serial() const { return alarm_serial_; }
    void remove_received_listener(int id);
    // Calls `fn` as each motion command starts to run, before it acts: "_MOVE:A", "_PICK" (the
    // picker as it is then tells a pick from a drop) or "_RESET", whether it came straight from the
    // line or from the command buffer; not a command that is ignored or dropped. Faults that are
    // counted in motions (the third pick fails ...) are armed from here. One listener.
    void on_motion(std::function<void(const std::string& command)> fn) { on_motion_ = std::move(fn); }
    // Damages the first status frame the robot sends at or after `at` (virtual time), once, in the
    // given way, in place of the drawn line faults; several wait in time order, each for its own
    // reply. A log's damaged replies are put back this way when it is replayed.
    void damage_reply_at(Micros at, ReplyDamage how);

    // --- where the discs are -------------------------------------------------------------------
    // Places: "1".."5", "A".."D", "S" (also "I"), "E", "G", "H", "picker", "lost", "removed".
    size_t count_at(const std::string& place) const;
    std::vector<DiscId> discs_at(const std::string& place) const;   // stacks: bottom first
    // The place of a disc, or "" when no such disc exists anywhere.
    std::string place_of(DiscId id) const;
    std::optional<Disc> disc(DiscId id) const;
    const std::vector<LostDisc>& lost() const { return lost_; }
    const std::vector<Disc>& removed() const { return removed_; }
    DiscId discs_created() const { return next_id_ - 1; }
    // Every disc ever created is in exactly one place. Empty when that holds, else what is wrong.
    std::string check_conservation() const;
    // A few lines: state, error, arm, picker, every place's count, lost and removed discs.
    std::string describe() const;

    // --- what the arm reaches ------------------------------------------------------------------
    void connect_recorder(char position, std::shared_ptr<DiscHolder> tray);
    DiscHolder* recorder(char position) const;
    // The stand-in tray at a recorder position (nullptr once a recorder device is connected).
    SimpleRecorderTray* simple_tray(char position) const;
    bool set_tray_open(char position, bool open);  // false when there is no stand-in tray there
    void connect_printer(std::shared_ptr<PrinterLink> printer);
    PrinterLink& printer() const { return *printer_; }
    void connect_laminator(std::shared_ptr<DiscHolder> laminator);
    DiscHolder& laminator() const { return *laminator_; }
    // A new disc put straight into a place (a disc left in a recorder, on the printer tray ...).
    // Returns its number, or 0 when the place cannot hold it.
    DiscId place_new_disc(char place);

    // --- the operator at the machine -----------------------------------------------------------
    void press_pause();
    void press_pick();
    void press_pause_and_pick();
    // Adds up to n blank discs on top of a stack "1".."5"; returns how many fitted.
    size_t refill(char stack, size_t n);
    // Lifts every disc off a stack or reject position; returns how many. With `leave`, the discs
    // it says yes to are put back on the same place in the order they were in (the operator
    // sorting the pile), and only the others leave the machine.
    size_t empty(char place, const std::function<bool(const Disc&)>& leave = nullptr);

    // --- faults --------------------------------------------------------------------------------
    void fail_next_picks(int n) { fail_picks_ += n; }          // "F", the disc stays
    void miss_next_picks(int n) { miss_picks_ += n; }          // "A": the disc is there but not seen
    void fail_next_moves(int n) { fail_moves_ += n; }          // "C", the arm stays
    void system_error_on_next_commands(int n) { system_errors_ += n; }  // "E"
    // Raises an error now (the printer's error hook raises "B" through this).
    void raise_error(char code, const std::string& why);
    void power_off();
    void power_on();
    void power_off_for(Micros duration);
    void power_off_at(Micros when, Micros duration);

    // --- scheduling world actions on the robot -------------------------------------------------
    // Runs `action` at virtual time `when` (or after `delay`), as long as the robot exists.
    void at(Micros when, std::function<void(Robot&)> action);
    void after(Micros delay, std::function<void(Robot&)> action);

    // Timings, identity and fault rates may be changed while the world runs.
    RobotConfig& config() { return config_; }
    const RobotConfig& config() const { return config_; }

private:
    enum class Activity { None, Moving, Picking, Dropping, Resetting, WaitingPrinter };

    // Parser.
    void parse(uint8_t byte);
    void invalid_command(const std::string& bytes);
    void log_received(Micros time, const std::string& text, ReceivedCommand::Kind kind);
    void execute(const std::string& command);
    // Commands.
    const char* motion_refused(const std::string& command) const;
    void motion_command(const std::string& command);
    void run_motion(const std::string& command);
    void run_buffered();
    void command_move(char letter);
    void command_pick();
    void command_reset();
    void command_kill();
    void command_tray(const std::string& command);
    // Motions.
    void start(Activity activity, Micros duration, std::function<void()> done);
    void begin_pick_or_drop();
    void finish_pick();
    void finish_drop();
    void end_of_activity();
    void set_activity(Activity activity);   // keeps the busy-time account
    void set_error(char code, const std::string& why);
    // Replies.
    void reply(bool status_frame);
    void send_reply(bool status_frame, const std::string& late_note);
    // Places.
    DiscHolder* holder(char letter) const;
    Stack* stack(char letter) const;
    bool valid_position(char letter) const;
    Disc new_disc();
    void later(Micros delay, std::function<void()> fn);
    void note(const std::string& text) const;
    // Damages a reply about to be sent; false when it is not sent at all.
    bool damage(std::string* bytes, ReplyDamage how, bool is_frame);
    std::deque<std::pair<Micros, ReplyDamage>> scheduled_damage_;  // damage_reply_at, earliest first

    RobotConfig config_;
    SerialLine* line_ = nullptr;
    Rng rng_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    bool powered_ = true;
    Activity activity_ = Activity::None;
    Micros busy_total_ = 0;          // busy time of the motions that have ended
    Micros busy_since_ = 0;          // when the motion in progress began
    uint64_t activity_serial_ = 0;   // a finished or cancelled activity's events do nothing
    uint64_t power_serial_ = 0;      // replies scheduled before a power cut are not sent
    char position_;
    char error_ = '.';
    uint64_t alarm_serial_ = 0;
    std::function<void()> on_alarm_;
    std::function<void(const std::string&)> on_motion_;
    void raised_alarm();
    bool paused_ = false;            // pressed during a motion, it shows once the motion ends
    char retry_pick_at_ = 0;         // where a pick failed with "A" or "F", for the Pick button
    std::optional<Disc> picker_;

    std::deque<std::string> buffer_;          // motion commands waiting while busy
    std::deque<ReceivedCommand> received_;
    uint64_t received_seq_ = 0;
    std::vector<std::pair<int, std::function<void(const ReceivedCommand&)>>> received_listeners_;
    int next_received_listener_ = 1;
    std::string parse_buffer_;
    bool resync_ = false;
    Micros last_byte_at_ = 0;

    int fail_picks_ = 0;
    int miss_picks_ = 0;
    int fail_moves_ = 0;
    int system_errors_ = 0;

    std::map<char, std::unique_ptr<Stack>> stacks_;            // "1".."5", "G", "H"
    std::array<std::shared_ptr<DiscHolder>, 4> recorders_;     // "A".."D"
    std::array<std::shared_ptr<SimpleRecorderTray>, 4> simple_trays_;
    std::shared_ptr<PrinterLink> printer_;
    std::shared_ptr<DiscHolder> laminator_;
    std::vector<LostDisc> lost_;
    std::vector<Disc> removed_;
    DiscId next_id_ = 1;
};

}  // namespace sim
