// The flags that describe the machine, the faults counted in its events, and what they set on
// the machine's devices.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "devices/disc_printer.h"
#include "devices/robot.h"
#include "flag_checks.h"
#include "machine_flags.h"
#include "resources/resource.h"
#include "stated_flags.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace rovane_tool {

// ---------------------------------------------------------------------------------------------
// The machine

void add_machine_flags(CLI::App* c, MachineFlags* f, bool with_faults) {
    add_stated(c, "--drives", f->drives,
               "recorders the host has, in positions A.. (default 4). A QIX reports two drives for a single "
               "recorder (1), so start-up shows the two-drive choice dialog, which asks for a second one")
        ->type_name("1|2|4")
        ->check(CLI::Validator(
            [](std::string& t) -> std::string { return t == "1" || t == "2" || t == "4" ? "" : "takes 1, 2 or 4"; }, ""));
    add_stated(c, "--drive-code", f->drive_code, "the robot's drive-count character (default A for 4 drives, B else)")
        ->type_name("C")
        ->check(CLI::Validator([](std::string& t) -> std::string { return t.size() == 1 ? "" : "takes one character"; }, ""));
    add_stated(c, "--model", f->model, "the robot's model letters (default R, a QIX; N or Q older models)")
        ->type_name("LETTERS")
        ->check(not_empty("the model letters"));
    add_stated(c, "--firmware", f->firmware, "the robot's firmware version (default 1.13)")
        ->type_name("TEXT")
        ->check(not_empty("a firmware version"));
    add_stated(c, "--port", f->port, "the port the robot is on (default COM1)")
        ->type_name("COMn")
        ->check(CLI::IsMember({"COM1", "COM2", "COM3", "COM4"}).description(""));
    add_stated_flag(c, "--robot-off", f->robot_off, "the robot is switched off");
    add_stated(c, "--noise", f->noise, "probability that a reply of the robot is damaged (default 0)")
        ->type_name("P")
        ->check(probability());
    add_stated(c, "--printer", f->printer, "a disc printer of that name on the robot's auxiliary cable and in the spooler")
        ->type_name("NAME")
        ->check(not_empty("a printer name"));
    add_stated(c, "--printer-port", f->printer_port, "the disc printer's spooler port (default LPT1:)")
        ->type_name("P")
        ->check(not_empty("a spooler port"));
    add_stated(c, "--printer-silent-at", f->printer_silent_at,
               "the disc printer stops answering the robot at SECONDS of virtual time, for good: busy with a tray "
               "that does not answer (\"B\", \"X\"), its tray commands ignored, a print under way stopped "
               "unprinted. A wait of the module for the tray shows the status message after 6 s and the "
               "Retry/Cancel box \"Unable to move the printer tray in/out...\" after 15 s (Cancel aborts the "
               "job); its wait for a print under way asks \"Wait for printing timed out...\" after a minute of silence")
        ->type_name("SECONDS")
        ->check(seconds(0, 172800));
    add_stated_flag(c, "--printer-disc-left", f->printer_disc_left,
                    "a disc is left inside the disc printer, its tray in, when the world starts (the printer reports "
                    "\"D\"); a job's begin has it taken out to reject G");
    add_stated_flag(c, "--no-office-printers", f->no_office_printers, "no office printer and no printer on FILE:");
    add_stated_flag(c, "--laminator", f->laminator, "the laminator \"Disc Laminator\" is installed");
    add_stated(c, "--lam-firmware", f->lam_firmware, "the laminator's firmware text (default \"LAM 2.04\")")
        ->type_name("TEXT")
        ->check(not_empty("a firmware text"));
    add_stated_flag(c, "--lam-silent", f->lam_silent, "the laminator answers no status request");
    add_stated(c, "--lam-corrupt", f->lam_corrupt, "the laminator's next N status records are corrupt")
        ->type_name("N")
        ->check(whole_number(0, 1000));
    add_stated(c, "--lam-jam", f->lam_jam,
               "the laminator's next N laminations stop with a disc jam (the operator clears it and presses "
               "\"Laminate\")")
        ->type_name("N")
        ->check(whole_number(0, 1000));
    add_stated(c, "--lam-falls", f->lam_falls,
               "on the laminator's next N laminations the disc falls off the tray as it comes out (the operator "
               "puts it back)")
        ->type_name("N")
        ->check(whole_number(0, 1000));
    add_stated_flag(c, "--lam-disc-left", f->lam_disc_left,
                    "a disc is left inside the laminator, its tray in, when the world starts (\"D\"; \"W\" once its tray is "
                    "out); a job's begin with the laminator in use has it taken out to reject G");
    add_stated_flag(c, "--no-label-app", f->no_label_app, "the label application is not installed");
    add_stated_flag(c, "--no-stored-serials", f->no_stored_serials, "the settings file does not know the recorders' places");
    add_stated(c, "--setting", f->settings, "a key of the settings file as the last session left it (repeatable)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& t) -> std::string {
                const size_t eq = t.find('=');
                return eq != std::string::npos && eq > 0 ? "" : "takes KEY=VALUE, not '" + t + "'";
            },
            ""));
    add_stated(c, "--name", f->names, "the host lists its recorders under this model name (repeatable, one per position)")
        ->type_name("TEXT")
        ->allow_extra_args(false)
        ->check(not_empty("a model name"));
    if (with_faults) {
        add_fault_flags(c, &f->mispick, &f->empty_bins, &f->tray_fail);
        add_stated(c, "--fail-call", f->fail_call,
                   "the Nth call of KIND fails: serial-read, serial-write (ReadFile / WriteFile on the robot's "
                   "port), tray (the engine's tray calls), spooler (the winspool calls), file-write (WriteFile on a "
                   "disk file, WritePrivateProfileStringA); N+ fails every call from the Nth on")
            ->type_name("KIND:N[+]")
            ->check(CLI::Validator(
                [](std::string& t) -> std::string {
                    FailCall f;
                    return parse_fail_call(t, &f) ? "" : "takes KIND:N or KIND:N+ (N from 1), not '" + t + "'";
                },
                ""));
    }
}

const char* const kFailCallKinds[5] = {"serial-read", "serial-write", "tray", "spooler", "file-write"};

bool parse_fail_call(const std::string& text, FailCall* out) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    FailCall f;
    f.kind = text.substr(0, colon);
    std::string n = text.substr(colon + 1);
    if (!n.empty() && n.back() == '+') {
        f.lasting = true;
        n.pop_back();
    }
    bool known = false;
    for (const char* kind : kFailCallKinds) known = known || f.kind == kind;
    if (!known || n.empty() || n.find_first_not_of("0123456789") != std::string::npos || n.size() > 18) return false;
    f.n = std::strtoull(n.c_str(), nullptr, 10);
    if (f.n == 0) return false;
    *out = f;
    return true;
}

std::string fail_call_text(const FailCall& f) { return f.kind + ":" + std::to_string(f.n) + (f.lasting ? "+" : ""); }

sim::FaultCounter* fail_call_counter(sim::World& world, const std::string& kind) {
    sim::CallFaults& c = world.call_faults();
    sim::FaultCounters* family = kind == "serial-read"    ? &c.serial_read
                                 : kind == "serial-write" ? &c.serial_write
                                 : kind == "tray"         ? &c.tray
                                 : kind == "spooler"      ? &c.spooler
                                 : kind == "file-write"   ? &c.file_write
                                                          : nullptr;
    return family ? &family->counter() : nullptr;
}

void add_fault_flags(CLI::App* c, double* mispick, std::vector<std::string>* empty_bins, uint64_t* tray_fail) {
    add_stated(c, "--mispick", *mispick, "probability that a pick where a disc is fails (robot error F)")
        ->type_name("P")
        ->check(probability());
    add_stated(c, "--empty-bin", *empty_bins, "that input bin starts empty (repeatable)")
        ->type_name("4|2|5|1")
        ->allow_extra_args(false)
        ->check(input_bin());
    add_stated(c, "--tray-fail", *tray_fail,
               "each recorder's next N DQ_OpenCloseTray calls fail with the engine's tray error and leave the tray "
               "where it is, then the calls work: every recorder's own counter in the family of tray calls that "
               "--fail-call tray arms for all recorders together, armed at the next call for N calls in a row "
               "(--fail-call tray:N fails the Nth tray call of any recorder, once)")
        ->type_name("N")
        ->check(whole_number(0, 1000));
}

// ---------------------------------------------------------------------------------------------
// Faults counted in the machine's events
//
// A script run by both test hosts meets its faults at the same point in both worlds only when the
// fault is tied to something both worlds do in the same order: the robot's motions (the module
// sends the same commands in the same order whatever the clock), the printer's prints, the
// recorder tray calls. A moment of time is not such a point: under Wine the robot runs in real
// time, and the module's polls fall where the scheduler lets them.

namespace {

const char* const kMotionKinds = "pick, drop or move";

bool parse_count(const std::string& text, uint64_t* n) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos || text[0] == '0')
        return false;
    *n = std::strtoull(text.c_str(), nullptr, 10);
    return *n > 0;
}

// The kind of motion a command starting to run is: "_PICK" picks up with an empty picker and
// drops off with a disc in it.
std::string motion_kind(const sim::Robot& robot, const std::string& command) {
    if (command == "_PICK") return robot.picker() ? "drop" : "pick";
    if (command.rfind("_MOVE:", 0) == 0) return "move";
    return "reset";
}

}  // namespace

bool parse_motion_count(const std::string& text, std::string* kind, uint64_t* n) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string k = text.substr(0, colon);
    if (k != "pick" && k != "drop" && k != "move") return false;
    if (!parse_count(text.substr(colon + 1), n)) return false;
    *kind = k;
    return true;
}

bool parse_robot_error_on(const std::string& text, char* code, std::string* kind, uint64_t* n) {
    if (text.size() < 3 || text[0] < 'A' || text[0] > 'F' || text[1] != '@') return false;
    if (!parse_motion_count(text.substr(2), kind, n)) return false;
    const char c = text[0];
    if ((c == 'A' || c == 'F') && *kind != "pick") return false;
    if (c == 'C' && *kind != "move") return false;
    *code = c;
    return true;
}

bool parse_reply_damage(const std::string& text, sim::ReplyDamage* how, std::string* kind, uint64_t* n,
                        uint64_t* after_ms) {
    static const std::pair<const char*, sim::ReplyDamage> kHows[] = {{"garbage", sim::ReplyDamage::Garbage},
                                                                    {"checksum", sim::ReplyDamage::Checksum},
                                                                    {"dropped", sim::ReplyDamage::Dropped},
                                                                    {"none", sim::ReplyDamage::Nothing}};
    const size_t at = text.find('@'), plus = text.rfind('+');
    if (at == std::string::npos || plus == std::string::npos || plus < at) return false;
    const std::string word = text.substr(0, at);
    const auto found = std::find_if(std::begin(kHows), std::end(kHows),
                                    [&](const std::pair<const char*, sim::ReplyDamage>& h) { return word == h.first; });
    if (found == std::end(kHows)) return false;
    const std::string counted = text.substr(at + 1, plus - at - 1);
    if (counted == "start") {
        *kind = counted;
        *n = 0;
    } else if (!parse_motion_count(counted, kind, n)) {
        return false;
    }
    const std::string ms = text.substr(plus + 1);
    if (ms.empty() || ms.size() > 9 || ms.find_first_not_of("0123456789") != std::string::npos) return false;
    *after_ms = std::stoull(ms);
    *how = found->second;
    return true;
}

void add_counted_fault_flags(CLI::App* c, MachineFlags* f) {
    add_fault_flags(c, &f->mispick, &f->empty_bins, &f->tray_fail);
    c->get_option("--mispick")
        ->description("probability that a pick where a disc is fails (robot error F); drawn at each such pick, so "
                      "the same picks fail in host and serve as long as --noise is 0");
    add_stated(c, "--robot-error-on", f->robot_errors_on,
               std::string("robot error CODE as the Nth motion of KIND (") + kMotionKinds +
                      ", counted from the start) begins: A (the disc not seen) and F (not gripped) on a pick, C on a "
                      "move, E instead of the motion, B and D at once while it runs (repeatable)")
        ->type_name("CODE@KIND:N")
        ->allow_extra_args(false)
        ->check(text_form(
            [](const std::string& t) {
                char code;
                std::string kind;
                uint64_t n;
                return parse_robot_error_on(t, &code, &kind, &n);
            },
            "CODE@KIND:N (A@pick, F@pick, C@move, B, D or E @pick, @drop or @move; N from 1)"));
    add_stated(c, "--pause-on", f->pauses_on,
               std::string("the robot's Pause button is pressed as the Nth motion of KIND (") + kMotionKinds +
                      ") begins; the motion ends first (repeatable)")
        ->type_name("KIND:N")
        ->allow_extra_args(false)
        ->check(text_form(
            [](const std::string& t) {
                std::string kind;
                uint64_t n;
                return parse_motion_count(t, &kind, &n);
            },
            "KIND:N (pick, drop or move; N from 1)"));
    add_stated(c, "--damage-reply", f->reply_damages,
               "the robot's first status reply MS ms or more after the Nth motion of KIND began (KIND:N), or after "
               "the world's start (start), is damaged: HOW is garbage (bytes before it), checksum, dropped (bytes "
               "missing) or none (no reply) (repeatable)")
        ->type_name("HOW@KIND:N+MS")
        ->allow_extra_args(false)
        ->check(text_form(
            [](const std::string& t) {
                sim::ReplyDamage how;
                std::string kind;
                uint64_t n, ms;
                return parse_reply_damage(t, &how, &kind, &n, &ms);
            },
            "HOW@KIND:N+MS or HOW@start+MS (HOW garbage, checksum, dropped or none; KIND pick, drop or move; N from "
            "1; MS in ms)"));
    add_stated(c, "--print-fail", f->print_fail, "the disc printer's next N prints stop halfway with error B")
        ->type_name("N")
        ->check(whole_number(0, 1000));
}

void add_speed_flag(CLI::App* c, MachineFlags* f) {
    add_stated(c, "--speed", f->speed,
               "the machine's motions take 1/F of their time (default 1): the robot's moves, picks, drops and "
               "resets, the printer's tray and printing, the laminator's tray, heater and laminating, the "
               "recorders' trays. The module's own waits and the host's polls do not change, so give host and "
               "serve the same F")
        ->type_name("F")
        ->check(number(1, 20, ""));
}

namespace {

sim::Micros quicker(sim::Micros t, double speed) { return static_cast<sim::Micros>(std::llround(static_cast<double>(t) / speed)); }

}  // namespace

sim::AutoloaderConfig machine_config(const MachineFlags& f, uint64_t seed) {
    sim::AutoloaderConfig cfg;
    cfg.seed = seed;
    cfg.drives = static_cast<int>(f.drives);
    if (!f.drive_code.empty()) cfg.drive_code = f.drive_code[0];
    cfg.robot.model = f.model;
    cfg.robot.firmware = f.firmware;
    cfg.robot.line.damage_probability = f.noise;
    cfg.robot.mispick_probability = f.mispick;
    for (const std::string& bin : f.empty_bins) cfg.robot.initial_discs[bin[0]] = 0;
    cfg.port = f.port;
    cfg.robot_off = f.robot_off;
    cfg.disc_printer = f.printer;
    cfg.disc_printer_port = f.printer_port;
    cfg.office_printers = !f.no_office_printers;
    cfg.laminator = f.laminator;
    cfg.laminator_config.firmware = f.lam_firmware;
    cfg.disc_in_printer = f.printer_disc_left;
    cfg.disc_in_laminator = f.lam_disc_left;
    cfg.label_app = !f.no_label_app;
    cfg.stored_serials = !f.no_stored_serials;
    for (const std::string& kv : f.settings) {
        const size_t eq = kv.find('=');
        cfg.settings.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    }
    cfg.recorder_names = f.names;
    if (f.speed != 1) {
        // Motions only: the robot's replies, the line and the firmware's own time-outs keep theirs.
        sim::RobotConfig& r = cfg.robot;
        for (sim::Micros* t : {&r.move_time, &r.same_position_move_time, &r.pick_time, &r.drop_time, &r.reset_time})
            *t = quicker(*t, f.speed);
        cfg.printer_tray_time = quicker(cfg.printer_tray_time, f.speed);
        cfg.printer_config.print_time = quicker(cfg.printer_config.print_time, f.speed);
        sim::LaminatorConfig& l = cfg.laminator_config;
        for (sim::Micros* t : {&l.tray_in_time, &l.tray_out_time, &l.laminate_time, &l.warm_up_time}) *t = quicker(*t, f.speed);
    }
    return cfg;
}

void adapt_for_jobs(CLI::App* c) {
    c->get_option("--drives")
        ->description("recorders the host has, in positions A.. (default 4); not 1: a QIX reports two drives for a "
                      "single recorder, so start-up would ask for a second one")
        ->type_name("2|4")
        ->check(CLI::Validator(
            [](std::string& t) -> std::string {
                return t == "1" ? "takes 2 or 4, not 1 (a QIX reports two drives for a single recorder, so start-up "
                                  "would ask for a second one and never finish)"
                                : "";
            },
            ""));
    c->get_option("--port")->description(
        "the port the robot is on; the settings file names it (\"Com\"), so the module opens it (default COM1)");
}

sim::AutoloaderConfig job_machine_config(const MachineFlags& f, uint64_t seed) {
    sim::AutoloaderConfig cfg = machine_config(f, seed);
    bool port_named = false;
    for (const auto& [key, value] : cfg.settings) port_named = port_named || key == "Com";
    if (!port_named && f.port != "COM1") cfg.settings.emplace_back("Com", f.port);
    return cfg;
}

int robot_drive_count(const MachineFlags& f) {
    // A QIX is "R" in the two letters after "ION:"; "N" or "Q" there make an older model.
    const std::string letters = f.model.substr(0, 2);
    if (letters.find_first_of("NQ") != std::string::npos || letters.find('R') == std::string::npos) return 0;
    const char code = f.drive_code.empty() ? (f.drives == 4 ? 'A' : 'B') : f.drive_code[0];
    switch (code) {
        case 'A': case 'D': case 'F': return 4;
        case 'B': case 'C': case 'E': return 2;
        default: return 0;
    }
}


void apply_machine_faults(const MachineFlags& f, sim::Autoloader& machine) {
    if (f.speed != 1)
        for (const auto& drive : machine.drives) drive->set_tray_move_time(quicker(drive->config().tray_move_time, f.speed));
    if (machine.laminator) {
        if (f.lam_silent) machine.laminator->go_silent();
        if (f.lam_corrupt) machine.laminator->corrupt_next(static_cast<int>(f.lam_corrupt), sim::LamCorruption::BadChecksum);
        // One kind of spoiled lamination at a time: a jam wins.
        if (f.lam_falls) machine.laminator->fail_next_laminations(static_cast<int>(f.lam_falls), sim::LamFault::FallsOff);
        if (f.lam_jam)
            machine.laminator->fail_next_laminations(static_cast<int>(f.lam_jam), sim::LamFault::Error, sim::kLamErrDiskJam);
    }
    if (f.printer_silent_at >= 0 && machine.printer) {
        sim::Kernel& k = machine.world.kernel();
        sim::DiscPrinter* printer = machine.printer.get();
        k.at(k.now() + static_cast<sim::Micros>(std::llround(f.printer_silent_at * 1e6)), [printer] { printer->go_silent(); });
    }
    // --tray-fail N: each recorder's tray counter fails its next N calls.
    if (f.tray_fail)
        for (const auto& drive : machine.drives) machine.engine->fail_tray_calls(drive->unit(), static_cast<int>(f.tray_fail));
    FailCall fail;
    if (parse_fail_call(f.fail_call, &fail)) fail_call_counter(machine.world, fail.kind)->arm(fail.n, fail.lasting);
    if (f.print_fail && machine.printer) machine.printer->fail_next_prints(static_cast<int>(f.print_fail), sim::PrintFault::Error);
    if (!f.robot_errors_on.empty() || !f.pauses_on.empty() || !f.reply_damages.empty()) {
        // Each fault strikes as the motion it counts begins, whether the command came from the line
        // or from the robot's buffer: an armed pick or move fault is used by that very motion.
        struct Counted {
            char code;  // A..F, 'P' for the Pause button, 'R' for a damaged reply
            std::string kind;
            uint64_t n;
            sim::ReplyDamage how;
            uint64_t after_ms;
        };
        std::vector<Counted> faults;
        for (const std::string& t : f.robot_errors_on) {
            Counted c{};
            if (parse_robot_error_on(t, &c.code, &c.kind, &c.n)) faults.push_back(c);
        }
        for (const std::string& t : f.pauses_on) {
            Counted c{'P', "", 0, sim::ReplyDamage::Nothing, 0};
            if (parse_motion_count(t, &c.kind, &c.n)) faults.push_back(c);
        }
        for (const std::string& t : f.reply_damages) {
            Counted c{'R', "", 0, sim::ReplyDamage::Nothing, 0};
            if (!parse_reply_damage(t, &c.how, &c.kind, &c.n, &c.after_ms)) continue;
            if (c.kind == "start")
                machine.robot->damage_reply_at(sim::kernel().now() + static_cast<sim::Micros>(c.after_ms) * sim::kMs, c.how);
            else
                faults.push_back(c);
        }
        sim::Robot* robot = machine.robot.get();
        auto counts = std::make_shared<std::map<std::string, uint64_t>>();
        robot->on_motion([robot, faults, counts](const std::string& command) {
            const std::string kind = motion_kind(*robot, command);
            const uint64_t n = ++(*counts)[kind];
            for (const Counted& c : faults) {
                if (c.kind != kind || c.n != n) continue;
                if (c.code == 'R') {
                    robot->damage_reply_at(sim::kernel().now() + static_cast<sim::Micros>(c.after_ms) * sim::kMs, c.how);
                    continue;
                }
                if (c.code != 'P') {
                    inject_robot_error(*robot, c.code);
                    continue;
                }
                // Pressed once the motion is under way, so that it shows when the motion ends; a
                // person presses it only on a robot that is not paused.
                robot->after(0, [](sim::Robot& r) {
                    if (!r.paused()) r.press_pause();
                });
            }
        });
    }
}

}  // namespace rovane_tool
