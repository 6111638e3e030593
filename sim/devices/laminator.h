// The disc laminator: a separate machine on the deck whose tray stands where the fourth input bin
// would be (the robot's position "E"), reached by the host only through its driver, behind the
// spooler printer "Disc Laminator".
//
// The driver
// ----------
// Status: writing the printer-data value "MARLUNE" (binary, one byte 0x00) asks for a status
// record; reading "MARLUNE" answers the 80-byte record as the laminator stands at that moment:
//
//     0       0x01
//     1       record length (78 unless configured): the checksum covers this many - 1 bytes
//             from offset 1
//     9..23   firmware text, blank padded, not terminated ("LAM 2.04       ")
//     27      code of the last command the laminator executed (0 before the first one)
//     28      error bits (kLamErr*; several may be set at once), 0 for none
//     29      "I" ready, "B" busy, "C" cover open (the cover wins over busy)
//     30      tray: "I" in (or "D" in with a disc, when configured), "O" out and empty, "W" out
//             with a disc; while the tray travels, the side it left
//     32      heater: "X" off, "H" warming up, then the ready value ("R" unless configured)
//     41..43  ribbon remaining, 24-bit, most significant byte first
//     78      sum modulo 256 of the covered bytes (0 when the length is 0 or 1)
//     79      0x04
//     every other byte 0.
// A read of any other value name answers ERROR_FILE_NOT_FOUND; a write of any other value, type
// or contents is refused with ERROR_INVALID_PARAMETER. The spooler applies the caller's buffer
// size (ERROR_MORE_DATA and the size needed, as GetPrinterDataA does).
//
// Commands: a finished raw document of exactly 8 bytes 1B 04 code 00 00 00 00 sum (sum of the
// seven bytes before it, modulo 256) is a command:
//     0x80 tray in, 0x81 tray out      the tray travels for `tray_in_time` / `tray_out_time`;
//                                      busy meanwhile. A tray already there stays (the command
//                                      still counts as executed).
//     0x82 laminate                    the tray comes in (if out), the laminator waits for its
//                                      heater (starting it if off), laminates for
//                                      `laminate_time` using `ribbon_per_lamination` of ribbon,
//                                      then pushes the tray out with the disc ("W"). With no disc
//                                      on the tray it runs the tray in and out again and uses no
//                                      ribbon ("O"). Too little ribbon: error kLamErrRibbonOut at
//                                      once and the command is not executed.
//     0x83 heater start                "H" for `warm_up_time`, then the ready value; accepted in
//                                      any state (it moves nothing).
// Tray and laminate commands are executed only while the laminator is ready: a command arriving
// while it is busy, has an error pending or has its cover open is refused and changes nothing.
// Anything else — another length, a wrong lead-in or padding, a bad sum, an unknown code — is
// refused the same way. The code of an executed command becomes the record's last command at
// once. A document that arrives while the laminator is silent is lost.
//
// As a place for the robot (`DiscHolder`, wired with `robot.connect_laminator(lam)`): a disc
// dropped on the tray while it is out, still and empty stays there; a pick from the tray while it
// is out and still takes the disc; anything else refuses (a dropped disc falls).
//
// Faults (world controls): silence (reads fail, answer nothing, or the write fails), corrupt
// records (bad checksum, wrong marks, 79 or 81 bytes, state "W"; counted, or seeded per read with
// `corrupt_probability`), error bits raised and cleared, the cover opened and closed. Scheduled,
// in the style of the other devices: any of the eight error bits or an open cover at a virtual
// time (lasting until the operator clears it, or for a while), or on the next N laminations
// (-1: every lamination until clear_faults()). A fault that stops a lamination leaves the tray in
// with the disc not laminated; the operator clears it at the machine and presses the laminator's
// "Laminate" button, which runs the stopped lamination again (the scheduled faults count and
// spoil only laminations commanded by the driver, not such a run). A disc can also fall off the tray
// as it comes out after laminating (next N laminations): the tray reports out and empty ("O"),
// and the disc lies beside the laminator ("fell off", still counted by discs()) until the
// operator puts it back on the tray. The laminator is absent simply by not being installed.
//
// Every lamination is counted per disc (lamination_count(), laminated_twice()), as the printer
// counts prints.
//
// Every status read, every write of "MARLUNE", every command (executed or refused), the end of
// every tray movement and lamination and every fault goes into the transcript under "laminator".
#pragma once

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
#include "win32/spooler.h"

namespace sim {

class World;

// Error bits of the status record.
constexpr uint8_t kLamErrDiskOut = 0x01;
constexpr uint8_t kLamErrRibbonOut = 0x02;
constexpr uint8_t kLamErrRibbonMove = 0x04;
constexpr uint8_t kLamErrDiskJam = 0x08;
constexpr uint8_t kLamErrRibbonId = 0x10;
constexpr uint8_t kLamErrTrayMove = 0x20;
constexpr uint8_t kLamErrRollerLifter = 0x40;
constexpr uint8_t kLamErrHeaterCtrl = 0x80;

// Command codes.
constexpr uint8_t kLamCmdTrayIn = 0x80;
constexpr uint8_t kLamCmdTrayOut = 0x81;
constexpr uint8_t kLamCmdLaminate = 0x82;
constexpr uint8_t kLamCmdHeater = 0x83;

constexpr size_t kLamRecordSize = 80;
constexpr const char* kLaminatorPrinterName = "Disc Laminator";

// Record offsets.
namespace lam_offset {
constexpr size_t kStart = 0, kLength = 1, kFirmware = 9, kLastCommand = 27, kError = 28, kState = 29, kTray = 30,
                 kHeater = 32, kRibbon = 41, kChecksum = 78, kEnd = 79;
constexpr size_t kFirmwareSize = 15;
}  // namespace lam_offset

struct LaminatorConfig {
    std::string firmware = "LAM 2.04";         // at offset 9, blank padded to 15 bytes (longer is cut)
    uint32_t ribbon = 6750 * 500;              // ribbon remaining (24-bit; more is cut to 0xFFFFFF)
    uint32_t ribbon_per_lamination = 6750;
    Micros tray_in_time = 3 * kSecond;
    Micros tray_out_time = 3 * kSecond;
    Micros laminate_time = 25 * kSecond;
    Micros warm_up_time = 90 * kSecond;
    bool heater_on = false;                    // already warm when the world starts
    char heater_ready = 'R';                   // the heater byte once warm
    bool tray_out = false;                     // where the tray is when the world starts
    bool report_disc_in = false;               // a tray in with a disc reports "D" instead of "I"
    uint8_t record_length = 78;                // byte 1 of the record
    std::string port = "USB002";               // the spooler printer's port
    std::string driver = "Disc Laminator";     // the spooler printer's driver name
    double corrupt_probability = 0;            // per status read: a seeded corruption (any kind)
    uint64_t rng_salt = 0x4C414D494E41ULL;
    // Command documents held in the log of commands() (0 = all): a laminating job sends a few
    // per disc, and only the recent ones are held.
    size_t commands_kept = 500;
};

// How a silent laminator fails a status request.
enum class LamSilence {
    ReadFails,   // the read answers ERROR_GEN_FAILURE
    Empty,       // the read succeeds with no bytes
    WriteFails,  // the write of "MARLUNE" answers ERROR_GEN_FAILURE; nothing is read
};

// How a corrupt status record is wrong.
enum class LamCorruption {
    BadChecksum,   // one covered byte changed (never the state byte), the sum not fixed
    BadStartMark,  // byte 0 is not 0x01
    BadEndMark,    // byte 79 is not 0x04
    Short,         // 79 bytes
    Long,          // 81 bytes (the caller's 80-byte buffer is too small)
    WrongState,    // state "W", with a correct sum
    Random,        // one of the above, seeded, chosen afresh for each record
};
const char* lam_corruption_name(LamCorruption c);

// How a lamination is spoiled by a scheduled fault.
enum class LamFault {
    Error,      // the lamination stops before laminating with error bits raised: tray in, disc in
    CoverOpen,  // the cover opens as the lamination starts: stopped the same way
    FallsOff,   // the lamination finishes, but the disc falls off the tray as it comes out
};
const char* lam_fault_name(LamFault f);

// One command document as the laminator received it.
struct LaminatorCommand {
    Micros time = 0;
    std::string document;         // the document's name
    std::vector<uint8_t> bytes;
    bool executed = false;
    std::string note;             // what was done, or why it was refused
};

class Laminator : public PrinterModel, public DiscHolder {
public:
    explicit Laminator(const LaminatorConfig& config = LaminatorConfig());
    ~Laminator() override;
    Laminator(const Laminator&) = delete;
    Laminator& operator=(const Laminator&) = delete;

    const LaminatorConfig& config() const { return config_; }

    // --- the driver (PrinterModel) --------------------------------------------------------------
    void on_document(const SpoolDocument& doc) override;
    uint32_t get_data(const std::string& value_name, uint32_t* type, std::vector<uint8_t>* out) override;
    uint32_t set_data(const std::string& value_name, uint32_t type, const std::vector<uint8_t>& bytes) override;
    uint32_t status() override;

    // --- the tray as a place for the robot (DiscHolder) -----------------------------------------
    bool can_accept(std::string* why = nullptr) const override;
    bool has_disc() const override { return tray_out_ && !tray_moving_ && disc_.has_value(); }
    void put(const Disc& disc) override { disc_ = disc; }
    std::optional<Disc> take(std::string* why = nullptr) override;
    std::vector<Disc> discs() const override;

    // --- state, as the status record reports it -------------------------------------------------
    char state() const;        // 'I', 'B', 'C'
    char tray_status() const;  // 'I' (or 'D'), 'O', 'W'
    char heater() const { return heater_; }
    uint8_t error() const { return error_; }
    uint8_t last_command() const { return last_command_; }
    uint32_t ribbon_left() const { return ribbon_; }
    uint32_t laminations_left() const;
    bool busy() const { return busy_; }
    bool tray_out() const { return tray_out_; }
    bool tray_moving() const { return tray_moving_; }
    bool cover_open() const { return cover_open_; }
    bool silent() const { return silent_reads_ != 0; }
    const std::optional<Disc>& disc() const { return disc_; }
    // The 80 bytes a status read would answer now (uncorrupted).
    std::vector<uint8_t> status_record() const;

    // --- what happened --------------------------------------------------------------------------
    // The command documents received, oldest first: the most recent `commands_kept`.
    const std::deque<LaminatorCommand>& commands() const { return commands_; }
    uint32_t commands_received() const { return commands_received_; }  // every one, held or not
    uint32_t status_reads() const { return status_reads_; }     // reads of "MARLUNE"
    uint32_t status_requests() const { return status_requests_; }  // accepted writes of "MARLUNE"
    uint32_t laminations() const { return laminations_; }      // discs laminated
    // Laminations of one disc (one is right), and the discs laminated more than once.
    uint32_t lamination_count(DiscId id) const;
    std::vector<DiscId> laminated_twice() const;
    // The disc that fell off the tray and lies beside the laminator, if any.
    const std::optional<Disc>& fallen() const { return fallen_; }
    // A lamination stopped by a fault, its disc on the tray inside, waiting for the button.
    bool lamination_stopped() const { return stopped_; }
    // The codes of the executed commands held in commands(), in order.
    std::vector<uint8_t> executed_codes() const;

    // --- world controls -------------------------------------------------------------------------
    // The next `reads` status requests fail as `how` says (-1: until speak_again(); 0: stop).
    // While silent, command documents are lost.
    void go_silent(int reads = -1, LamSilence how = LamSilence::ReadFails);
    void speak_again() { go_silent(0); }
    // The next `count` records read are corrupt in this way (0: stop).
    void corrupt_next(int count, LamCorruption how);
    // Error bits: raised (added to those pending) and cleared (all of them).
    void raise_error(uint8_t bits);
    void clear_error();
    void open_cover();
    void close_cover();
    // The next `count` laminations are spoiled as `how` says (-1: every one until
    // clear_faults(); 0: stop); `error` is the bits an Error fault raises.
    void fail_next_laminations(int count, LamFault how, uint8_t error = kLamErrDiskJam);
    void fail_next_lamination(uint8_t error = kLamErrDiskJam) { fail_next_laminations(1, LamFault::Error, error); }
    // At virtual time `when`: error bits raised, or the cover opened; a lamination in progress
    // stops. `lasts` 0: until the operator clears it; otherwise it clears itself after that long.
    void raise_error_at(Micros when, uint8_t bits, Micros lasts = 0);
    void open_cover_at(Micros when, Micros lasts = 0);
    // Runs `action` at virtual time `when`, as long as the laminator exists.
    void at(Micros when, std::function<void(Laminator&)> action);
    // Ends the scheduled lamination faults (not an error or cover already standing).
    void clear_faults();
    void set_ribbon(uint32_t ribbon);
    void heater_off();
    // Puts the tray where it is wanted at once, ending any movement or lamination (world set-up).
    void set_tray_now(bool out);

    // --- the operator at the machine -----------------------------------------------------------
    // The "Laminate" button: with the laminator ready, runs a stopped lamination again (or, with
    // the tray in and nothing stopped, brings the tray out). False when it does nothing.
    bool press_laminate();
    // Puts the disc that fell off back on the tray (out, still and empty). False when it cannot.
    bool put_fallen_back();

private:
    enum class Phase { None, TrayIn, TrayOut, LamIn, LamHeat, Laminating, LamOut };

    void note(const std::string& text) const;
    void execute(uint8_t code, LaminatorCommand& log);
    void log_command(LaminatorCommand log);
    void start_heater();
    void move_tray(bool out, Phase phase, std::function<void()> done);
    void after(Micros delay, std::function<void()> fn);
    void laminate_step();
    void finish_lamination();
    // Stops the lamination in progress (a fault): the disc stays on the tray inside, unlaminated.
    void stop_lamination(const std::string& why);
    void schedule_fault(Micros when, bool cover, uint8_t bits, Micros lasts);
    std::vector<uint8_t> corrupted(std::vector<uint8_t> record, LamCorruption how);

    LaminatorConfig config_;
    Rng rng_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    uint64_t activity_serial_ = 0;

    bool busy_ = false;
    Phase phase_ = Phase::None;
    bool tray_out_ = false;
    bool tray_moving_ = false;
    bool cover_open_ = false;
    char heater_ = 'X';
    uint64_t heater_serial_ = 0;
    uint8_t error_ = 0;
    uint8_t last_command_ = 0;
    uint32_t ribbon_ = 0;
    std::optional<Disc> disc_;
    bool lamination_had_disc_ = false;

    int silent_reads_ = 0;
    LamSilence silence_ = LamSilence::ReadFails;
    int corrupt_count_ = 0;
    LamCorruption corruption_ = LamCorruption::BadChecksum;
    int failing_laminations_ = 0;
    LamFault lamination_fault_ = LamFault::Error;
    uint8_t lamination_error_ = kLamErrDiskJam;
    bool stopped_ = false;
    bool rerun_ = false;  // the lamination in progress was started by the operator's button
    std::optional<Disc> fallen_;
    std::map<DiscId, uint32_t> per_disc_;

    std::deque<LaminatorCommand> commands_;
    uint32_t commands_received_ = 0;
    uint32_t status_reads_ = 0;
    uint32_t status_requests_ = 0;
    uint32_t laminations_ = 0;
};

// Installs the spooler printer "Disc Laminator" (port and driver from the configuration) with a
// new laminator behind it, and returns the laminator. Replaces a printer of that name.
std::shared_ptr<Laminator> install_laminator(World& world, const LaminatorConfig& config = LaminatorConfig());

}  // namespace sim
