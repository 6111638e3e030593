// The disc printer: one machine seen from two sides. The robot sees it through its auxiliary
// cable (`PrinterLink`: a state and a tray position in every status frame, the tray commands it
// relays, the tray as a place for discs); the host sees it as a spooler printer whose driver
// (`PrinterModel`) takes print documents and answers the ink counters.
//
// Printing
// --------
// Every finished spooler document is a print: a raw printer file copied by the module, or the
// small document the label application spools for a label design. Documents wait in the
// printer's own queue while it is busy (printing, moving its tray, or held busy by a fault) and
// are printed one at a time, oldest first:
//   - With the tray out, the printer first pulls its tray in (as a disc printer does when a job
//     arrives), taking `tray_move_time`.
//   - It prints for `print_time`, reporting state "B" and tray "I"; then the disc on the tray
//     counts one print more (`Disc::prints`, and the printer's own count per disc) and the six
//     ink counters go up by `ink_per_print`. With no disc on the tray it prints on nothing: the
//     print counts as a blank print and uses ink all the same.
//   - It pushes the tray out with the disc (`tray_move_time`, busy meanwhile): state "I", tray
//     "O". The next waiting document, if any, then starts (pulling the tray in again, disc and
//     all: a second document for one disc prints that disc twice).
// A document arriving while the printer is switched off is lost (counted, never printed).
//
// Ink (the driver's printer-data value "MARLUNE")
// -----------------------------------------------
// Writing "MARLUNE" is accepted and counted. Reading it answers, as REG_BINARY, the counters in
// the layout of the printer's kind, which the printer knows from its name:
//   "Tessik 6" (whole name)   64 bytes: [1] 62, [3] cartridge byte (1 colour, 2 black, 3 colour
//                             and black, 4 two colour), [4] warning bits (0x01 left cartridge
//                             low, 0x02 right), [5..28] counters 1-6, [62] error bits
//   any other name            32 bytes: [1] 30, [2] cartridge byte (0 black, 1 colour, 2 or 3
//                             colour and black), [4..19] counters 1-4
// Counters are 32-bit, most significant byte first. A "Tessik 6" sets a warning bit when a
// cartridge's largest counter (1-3 left, 4-6 right) reaches its `low_level`, and with the first
// warning of a cartridge raises error bit 0x10 (show the ink-low warning) for one read: the
// printer asks once. The driver also keeps a cartridge-type value 140 bytes into the private part
// of its default device mode, for printers whose name begins with "Varrow" or "Tessik 6".
//
// Faults (world controls, in the style of the other devices): a printer error reported to the
// robot (error "B", once); the next prints (or every print until cleared) failing in one of three
// ways — stopping with a printer error, staying busy for good, or staying idle with the tray in —
// ; a printer held busy; ink reads that fail; the printer switched off (inherited); the printer
// that stops answering the robot for good (`go_silent`, inherited): busy with a tray that does not
// answer ("B", "X"), tray commands ignored, a print under way stopped unfinished (a failed print
// of its disc), documents kept waiting.
//
// The printer remembers every disc that has been on its tray and, per disc, its finished and its
// failed prints, so that a disc that reached its output bin unprinted can be told apart: its print
// failed, or no print ever started while it was on the tray, or it never came to the printer.
//
// Every document, print, tray movement and fault goes into the transcript under "printer".
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "devices/discs.h"
#include "kernel/kernel.h"
#include "win32/spooler.h"

namespace sim {

class World;

constexpr size_t kInkCounters = 6;
using InkCounters = std::array<uint32_t, kInkCounters>;

// How a failing print fails.
enum class PrintFault {
    Error,      // halfway through, the printer reports error "B" to the robot and stops: idle, tray
                // in, the disc not printed
    StaysBusy,  // the print never ends: busy, tray in, until clear_faults()
    StaysIdle,  // the printer takes the document and never starts: idle, tray in
};
const char* print_fault_name(PrintFault f);

struct DiscPrinterConfig {
    std::string name = "Pellan IV";          // the spooler printer's name; chooses the ink layout
    std::string port = "LPT1:";
    std::string driver;                      // "" = the name and " Driver"
    Micros print_time = 40 * kSecond;
    Micros tray_move_time = 2 * kSecond;
    // The cartridge byte of the ink answer, in the printer's layout; -1 = colour and black (3 for
    // a "Tessik 6", 2 for the others).
    int cartridge = -1;
    InkCounters ink = {};                                               // counters at the start
    InkCounters ink_per_print = {300000, 250000, 200000, 400000, 0, 0};  // added by every print
    // "Tessik 6": the level at which each cartridge warns (0 = never).
    std::array<uint32_t, 2> low_level = {0, 0};
    // The value in the driver's device mode (140 bytes into its private part).
    uint32_t driver_cartridge_value = 0;
    size_t documents_kept = 16;              // recent documents held by documents()
    // Faults from the start: the first `failing_prints` prints fail as `fault` says (-1 = every
    // print); `busy` holds the printer busy.
    int failing_prints = 0;
    PrintFault fault = PrintFault::Error;
    bool busy = false;
    // A tray that is in with a disc on it reports "D" instead of "I".
    bool report_disc_in = false;
};

// A document as the printer received it.
struct PrinterDocument {
    Micros time = 0;
    std::string name;              // the spooler document's name
    std::vector<uint8_t> bytes;
};

class DiscPrinter : public SimplePrinter, public PrinterModel {
public:
    explicit DiscPrinter(const DiscPrinterConfig& config = DiscPrinterConfig());
    ~DiscPrinter() override;
    DiscPrinter(const DiscPrinter&) = delete;
    DiscPrinter& operator=(const DiscPrinter&) = delete;

    const DiscPrinterConfig& config() const { return config_; }
    bool tessik() const { return config_.name == "Tessik 6"; }

    // --- the auxiliary cable (PrinterLink) ------------------------------------------------------
    char printer_state() const override;
    void tray_command(TrayCommand command) override;

    // --- the driver (PrinterModel) --------------------------------------------------------------
    void on_document(const SpoolDocument& doc) override;
    uint32_t get_data(const std::string& value_name, uint32_t* type, std::vector<uint8_t>* out) override;
    uint32_t set_data(const std::string& value_name, uint32_t type, const std::vector<uint8_t>& bytes) override;
    // The "MARLUNE" answer as a read would give it now.
    std::vector<uint8_t> ink_answer() const;

    // --- what happened --------------------------------------------------------------------------
    uint32_t documents() const { return documents_; }          // documents received
    uint32_t documents_lost() const { return documents_lost_; }  // arrived while switched off
    const std::deque<PrinterDocument>& recent_documents() const { return recent_; }
    size_t documents_waiting() const { return waiting_.size(); }
    uint32_t prints() const { return prints_; }                // prints finished, blank ones included
    uint32_t blank_prints() const { return blank_prints_; }
    uint32_t failed_prints() const { return failed_prints_; }
    bool printing() const { return printing_; }
    // Prints made on a disc; the discs printed more than once.
    uint32_t print_count(DiscId id) const;
    // Prints of a disc that failed (a fault, or the printer falling silent during the print).
    uint32_t failed_print_count(DiscId id) const;
    // Whether the disc has ever been on the printer's tray.
    bool had_on_tray(DiscId id) const { return on_tray_.count(id) != 0; }
    // The tray as a place: every disc put on it is remembered.
    void put(const Disc& disc) override;
    std::vector<DiscId> printed_twice() const;
    const std::map<DiscId, uint32_t>& print_counts() const { return per_disc_; }
    const InkCounters& ink() const { return ink_; }
    // Ink used since the start, per counter.
    InkCounters ink_used() const;
    uint8_t ink_warning() const { return warning_; }
    uint8_t ink_error() const { return error_bits_; }
    uint32_t ink_reads() const { return ink_reads_; }
    uint32_t ink_requests() const { return ink_requests_; }

    // --- world controls -------------------------------------------------------------------------
    // The next `count` prints fail as `how` says (-1: every print until clear_faults(); 0: stop).
    void fail_next_prints(int count, PrintFault how);
    // Holds the printer busy (state "B", tray commands ignored, documents wait) or lets it go.
    void set_busy(bool busy);
    // Ends every fault: no more failing prints, not held busy, a print stuck busy ends (tray in,
    // the disc not printed), the ink answers again. Waiting documents then print.
    void clear_faults();
    // Stops answering the robot for good; a print under way stops unfinished.
    void go_silent() override;
    // The next `reads` ink reads fail (-1: until clear_faults()).
    void fail_ink_reads(int reads);
    // Warning and error bits set by hand ("Tessik 6" layout; added to those pending).
    void raise_ink_warning(uint8_t warning, uint8_t error);
    void set_ink(const InkCounters& ink) { ink_ = ink; }

private:
    void note(const std::string& text) const;
    void after(Micros delay, std::function<void()> fn);
    void move_tray(bool in, std::function<void()> done);
    void start_next();
    void begin_print(PrinterDocument doc);
    void finish_print(const std::string& name);
    void print_failed(const std::string& name, const char* why);
    void update_warnings();

    DiscPrinterConfig config_;
    std::deque<PrinterDocument> waiting_;
    std::deque<PrinterDocument> recent_;
    bool printing_ = false;     // from the document's start (tray pulled in) to the push-out
    bool held_busy_ = false;
    bool stuck_ = false;        // a print that stays busy
    std::string printing_name_; // the document being printed, from its start to its end
    uint64_t print_serial_ = 0;
    int failing_ = 0;
    PrintFault fault_ = PrintFault::Error;
    int failing_reads_ = 0;

    uint32_t documents_ = 0, documents_lost_ = 0;
    uint32_t prints_ = 0, blank_prints_ = 0, failed_prints_ = 0;
    std::map<DiscId, uint32_t> per_disc_;
    std::map<DiscId, uint32_t> failed_per_disc_;
    std::set<DiscId> on_tray_;
    InkCounters ink_ = {};
    uint8_t warning_ = 0;
    uint8_t error_bits_ = 0;
    uint32_t ink_reads_ = 0, ink_requests_ = 0;
};

// The default device mode of a disc printer's driver: the public part, then a private part that
// holds `cartridge_value` (32-bit, little-endian) 140 bytes in.
std::vector<uint8_t> disc_printer_devmode(const std::string& name, uint32_t cartridge_value);

// Installs the spooler printer (name, port and driver from the configuration; the device mode
// for printers whose name begins with "Varrow" or "Tessik 6") with a new disc printer behind it,
// and returns the printer. The caller wires it to the robot (robot.connect_printer).
std::shared_ptr<DiscPrinter> install_disc_printer(World& world, const DiscPrinterConfig& config = DiscPrinterConfig());

}  // namespace sim
