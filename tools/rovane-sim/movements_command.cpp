// rovane-sim movements: the module's manual movements, as a person runs the multiple-disc move
// test from the host's menu. The host starts the module and opens the movements dialog; the
// operator sets the number of discs, ticks the printer and the laminator when asked, starts the
// test, watches the remaining count (and clicks Stop Test when told to), and leaves the dialog
// when the test is over; the host ends the module. The tool prints what the robot received, the
// counts the test dialog showed and where the discs are, and checks the run's invariants.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flag_checks.h"
#include "harness/autoloader.h"
#include "harness/recording_host.h"
#include "harness/verdict.h"
#include "kernel/transcript.h"
#include "machine_flags.h"
#include "resources/resource.h"
#include "rovane.h"
#include "tool_commands.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

struct MovementsOptions {
    uint64_t seed = 1;
    uint64_t discs = 0;
    double stop_after = -1;  // seconds after the test dialog opened; < 0: the test runs to its end
    MachineFlags machine;
};

// The last line of the printer list in the printer selection dialog.
constexpr const char* kNoDiscPrinter = "- Not using a disc printer -";

// What the operator saw of the test.
struct TestWatch {
    HWND dialog = nullptr;           // the test dialog while it is open
    bool shown = false;
    std::string total;               // the total it showed
    std::vector<long> remaining;     // the remaining counts it showed after its first, in order
    bool stopped = false;            // the operator clicked Stop Test
    sim::Micros stopped_at = 0;
    std::string refused;             // why the operator could not set the count
};

std::string quoted(const std::string& s) { return "\"" + sim::Transcript::escape(s) + "\""; }

long number_of(const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end ? -1 : v;
}

// --- build: the machine and what the tool follows in it -------------------------------------------

// The test's world, and what the tool follows in it while the test runs (the lambdas of the
// operator's rules and of the listeners point into it: it stays where it was made).
struct MovementsWorld {
    const MovementsOptions& o;
    long discs = 0;
    bool printer_asked = false, laminator_asked = false;
    sim::AutoloaderConfig cfg;
    std::unique_ptr<sim::Autoloader> machine;
    // Where every disc was before the test: a disc of the test is one that left its place.
    std::map<sim::DiscId, std::string> first_place;
    std::vector<std::string> events;  // printed under the call they came in
    std::shared_ptr<TestWatch> watch = std::make_shared<TestWatch>();
    int entry_listener = 0, command_listener = 0;

    explicit MovementsWorld(const MovementsOptions& options) : o(options) {}
    sim::World& world() { return machine->world; }
    std::string at() { return "    " + std::to_string(world().kernel().now() / sim::kMs) + " "; }
    void take_events() {
        for (const std::string& line : events) std::printf("%s\n", line.c_str());
        events.clear();
    }
};

// The machine's configuration; a usage error's text, or "".
std::string configure_movements(MovementsWorld& m) {
    // The dialog's count starts at the robot's drive count and steps by it, up to 400: a count it
    // cannot show is refused before the world runs.
    const long drive_count = robot_drive_count(m.o.machine);
    if (drive_count > 0 && (m.discs < drive_count || m.discs % drive_count != 0))
        return "--discs: the test dialog counts from " + std::to_string(drive_count) + " to 400 in steps of " +
               std::to_string(drive_count) + " (the robot's drive count), so it cannot show " + std::to_string(m.discs);
    m.cfg = job_machine_config(m.o.machine, m.o.seed);
    bool printer_named = false, lam_named = false;
    for (const auto& [key, value] : m.cfg.settings) {
        printer_named = printer_named || key == "Printer";
        lam_named = lam_named || key == "Laminate Disc";
    }
    if (m.laminator_asked) {
        // The laminator is chosen as a first session chooses it: no printer named in the settings
        // file, so start-up shows the printer selection dialog with "Use Laminator" ticked by the
        // module, and the operator picks the disc printer (or none) there.
        if (!lam_named) m.cfg.settings.emplace_back("Laminate Disc", "1");
    } else if (m.printer_asked && !printer_named) {
        // The disc printer is the last session's: start-up takes it without a question.
        m.cfg.settings.emplace_back("Printer", m.cfg.disc_printer);
    }
    // The movements dialog stays open, unanswered, for the whole test: the operator is at the
    // machine, so it waits far longer than a forgotten window would.
    m.cfg.unanswered_window_limit = 10 * sim::kMinute + static_cast<sim::Micros>(m.discs) * 4 * sim::kMinute;
    return "";
}

// What is printed under each call: the windows, the wire. The test is over when its dialog closes:
// the operator leaves the movements dialog after a moment.
void follow_movements_events(MovementsWorld& m) {
    sim::World& world = m.world();
    m.entry_listener = world.kernel().transcript().subscribe([&m](const sim::TranscriptEntry& e) {
        if (e.kind != "window" || (e.text.rfind("msgbox ", 0) != 0 && e.text.rfind("dialog ", 0) != 0)) return;
        m.events.push_back(m.at() + e.text);
        if (e.text.rfind("dialog " + std::to_string(IDD_MOVE_TEST) + " closed", 0) == 0) {
            m.watch->dialog = nullptr;
            sim::Ui& ui = m.world().ui();
            m.world().kernel().after(m.world().op().think_time(), [&ui] {
                if (HWND d = ui.find_dialog(IDD_MOVEMENTS)) ui.click(d, IDCANCEL);
            });
        }
    });
    m.command_listener = m.machine->robot->on_received([&m](const sim::ReceivedCommand& c) {
        if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") return;
        m.events.push_back("    " + c.line());
    });
}

// The movements dialog: the count by the up-down control's arrow, which steps from the dialog's
// first count by its first increment; the boxes asked for; Start Test.
void start_test(MovementsWorld& m) {
    sim::Ui& ui = m.world().ui();
    const HWND d = ui.find_dialog(IDD_MOVEMENTS);
    if (!d) return;
    const auto count = ui.control(d, IDC_TEST_DISC_COUNT);
    const auto spin = ui.control(d, IDC_TEST_DISC_SPIN);
    const long first = count ? number_of(count->text) : -1;
    const long step = spin && !spin->accels.empty() ? static_cast<long>(spin->accels.front().nInc) : 1;
    const long low = spin ? std::min(spin->range_low, spin->range_high) : first;
    const long high = spin ? std::max(spin->range_low, spin->range_high) : first;
    const long discs = m.discs;
    if (first < 0 || step <= 0 || discs < low || discs > high || (discs - first) % step != 0) {
        m.watch->refused = "the dialog counts from " + std::to_string(first) + " in steps of " + std::to_string(step) +
                           " up to " + std::to_string(high) + ": it cannot show " + std::to_string(discs);
        ui.click(d, IDCANCEL);
        return;
    }
    if (discs != first) ui.input(d, sim::DialogAction::spin(IDC_TEST_DISC_SPIN, static_cast<int>((discs - first) / step)));
    if (m.printer_asked) ui.set_check(d, IDC_TEST_PRINTER, true);
    if (m.laminator_asked) ui.set_check(d, IDC_TEST_LAMINATOR, true);
    ui.click(d, IDC_START_TEST);
}

// The test dialog: every count it shows is read at once; Stop Test when its time comes.
void watch_test(MovementsWorld& m) {
    sim::World& world = m.world();
    sim::Ui& ui = world.ui();
    const std::shared_ptr<TestWatch> watch = m.watch;
    const HWND d = ui.find_dialog(IDD_MOVE_TEST);
    if (!d) return;
    const auto remaining = ui.control(d, IDC_TEST_REMAINING);
    const std::string shown = remaining ? remaining->text : "";
    if (!watch->shown) {
        watch->shown = true;
        watch->dialog = d;
        const auto total = ui.control(d, IDC_TEST_TOTAL);
        watch->total = total ? total->text : "";
        m.events.push_back(m.at() + "test total " + watch->total + " remaining " + shown);
        if (m.o.stop_after >= 0)
            world.kernel().after(static_cast<sim::Micros>(std::llround(m.o.stop_after * 1e6)), [&world, &ui, watch, d] {
                if (watch->dialog != d) return;
                watch->stopped = true;
                watch->stopped_at = world.kernel().now();
                ui.click(d, IDCANCEL);
            });
        return;
    }
    const long value = number_of(shown);
    if (!watch->remaining.empty() && watch->remaining.back() == value) return;
    watch->remaining.push_back(value);
    m.events.push_back(m.at() + "remaining " + shown);
}

// An empty input bin, as in a job: the finished discs come off the output stacks and the bin the
// arm waits at is refilled; the new discs start the test there.
void refill_input_bin(MovementsWorld& m) {
    sim::Robot& robot = *m.machine->robot;
    for (char output : {'3', '4', '2', '5'}) m.machine->take_away(output);
    const char bin = robot.position();
    if (std::strchr("1245", bin)) {
        const std::string place(1, bin);
        const std::vector<sim::DiscId> before = robot.discs_at(place);
        robot.refill(bin, 25);
        for (sim::DiscId id : robot.discs_at(place))
            if (std::find(before.begin(), before.end(), id) == before.end()) m.first_place[id] = place;
    }
    robot.press_pick();
}

void install_movements_operator(MovementsWorld& m) {
    sim::Operator& op = m.world().op();
    if (m.laminator_asked) {
        const std::string line = m.printer_asked ? m.cfg.disc_printer + " on " + m.cfg.disc_printer_port : kNoDiscPrinter;
        op.on_dialog(IDD_SELECT_PRINTER)
            .named("choose the disc printer and the laminator")
            .select(IDC_PRINTER_LIST, line)
            .check(IDC_SELECT_USE_LAMINATOR, true)
            .click(IDOK);
    }
    op.on_dialog(IDD_MOVEMENTS).named("start the test").times(1).then([&m] { start_test(m); });
    op.on_dialog(IDD_MOVE_TEST).named("watch the remaining count").after(0).then([&m] { watch_test(m); });
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("input bin is empty").named("refill the input bin").then([&m] {
        refill_input_bin(m);
    });
    sim::install_default_operator(*m.machine);
}

// The world of the test, the module loaded; nonzero (the exit code, after its message) when the
// options cannot be run.
int build_movements_world(MovementsWorld& m) {
    m.discs = static_cast<long>(m.o.discs);
    m.printer_asked = !m.o.machine.printer.empty();
    m.laminator_asked = m.o.machine.laminator;
    const std::string refused = configure_movements(m);
    if (!refused.empty()) return usage_error("movements", refused);
    m.machine = std::make_unique<sim::Autoloader>(m.cfg);
    apply_machine_faults(m.o.machine, *m.machine);
    sim::Robot& robot = *m.machine->robot;
    for (sim::DiscId id = 1; id <= robot.discs_created(); ++id) m.first_place[id] = robot.place_of(id);
    follow_movements_events(m);
    install_movements_operator(m);
    m.world().load_module();
    return 0;
}

// --- run: the host starts the module, opens the movements dialog and ends the module ------------

struct MovementsRun {
    sim::RunResult result;
    bool started = false, ended = false;
};

MovementsRun run_movements_host(MovementsWorld& m) {
    MovementsRun run;
    sim::Autoloader& machine = *m.machine;
    sim::SimThread* host = m.world().spawn("host", [&] {
        machine.host_window();
        const auto now_ms = [] { return static_cast<unsigned long long>(sim::kernel().now() / sim::kMs); };
        const sim::InitOutcome r = machine.init_module();
        std::printf("%llu init \"VeltoDVD\" -> %ld\n", now_ms(), static_cast<long>(r.result));
        for (const std::string& l : r.lines) std::printf("    recorder %s\n", quoted(l).c_str());
        m.take_events();
        run.started = r.result > 0;
        if (run.started) {
            const DWORD result = Rovane_Movements(0);
            std::printf("%llu movements -> %lu\n", now_ms(), static_cast<unsigned long>(result));
            m.take_events();
        }
        char text[ROVANE_END_TEXT_SIZE + 1] = {};
        const DWORD result = Rovane_End(text);
        run.ended = true;
        std::printf("%llu end -> %lu\n", now_ms(), static_cast<unsigned long>(result));
        m.take_events();
        std::fflush(stdout);
    });
    run.result = m.world().run([host] { return host->state == sim::ThreadState::Finished; });
    if (run.result.ok()) run.result = machine.settle();
    m.take_events();
    m.world().kernel().transcript().unsubscribe(m.entry_listener);
    machine.robot->remove_received_listener(m.command_listener);
    return run;
}

// --- judge and report -----------------------------------------------------------------------------

// Where the discs of the test went.
struct TestDiscs {
    int moved = 0, in_output = 0, left = 0, rejected = 0, lost = 0;
    std::map<std::string, int> by_bin;
};

TestDiscs count_test_discs(const MovementsWorld& m) {
    TestDiscs t;
    for (const auto& [id, was] : m.first_place) {
        const std::string place = m.machine->robot->place_of(id);
        if (place == was) continue;
        ++t.moved;
        if (place == "2" || place == "3" || place == "4" || place == "5") {
            ++t.in_output;
            ++t.by_bin[place];
        } else if (place == "G" || place == "H") {
            ++t.rejected;
        } else if (place == "lost") {
            ++t.lost;
        } else if (place != "removed") {
            ++t.left;
        }
    }
    // Discs the operator took off the output stacks (to refill the input bins) stay counted there.
    for (const auto& [place, n] : m.machine->taken_by_operator())
        if (place >= '2' && place <= '5') {
            t.in_output += static_cast<int>(n);
            t.by_bin[std::string(1, place)] += static_cast<int>(n);
        } else {
            t.rejected += static_cast<int>(n);
        }
    return t;
}

std::string remaining_shown(const TestWatch& watch) {
    std::string shown;
    for (long v : watch.remaining) shown += " " + std::to_string(v);
    return shown;
}

bool test_completed(const TestWatch& watch) {
    return !watch.remaining.empty() && watch.remaining.back() == 0 && !watch.stopped;
}

// How the test ended, in words.
std::string test_ending(const TestWatch& watch, const MovementsRun& run) {
    if (test_completed(watch)) return "completed";
    if (watch.stopped) return "stopped by the operator at " + std::to_string(watch.stopped_at / sim::kMs) + " ms";
    if (!run.started) return "not run (the module did not start)";
    if (!watch.refused.empty()) return "not run (" + watch.refused + ")";
    if (!watch.shown) return "not run (the test dialog was not shown)";
    return "ended before its count";
}

void report_movements(const MovementsWorld& m, const MovementsRun& run, const TestDiscs& t) {
    const std::string shown = remaining_shown(*m.watch);
    std::string bins;
    for (const auto& [bin, n] : t.by_bin) bins += (bins.empty() ? "" : ", ") + bin + ": " + std::to_string(n);
    std::printf("test %s: %ld discs asked, %d moved\n", test_ending(*m.watch, run).c_str(), m.discs, t.moved);
    std::printf("  remaining shown   %s\n", shown.empty() ? "none" : shown.c_str() + 1);
    std::printf("  in output bins    %d%s\n", t.in_output, bins.empty() ? "" : ("  (" + bins + ")").c_str());
    if (t.left) std::printf("  left in machine   %d\n", t.left);
    if (t.rejected) std::printf("  rejected          %d\n", t.rejected);
    if (t.lost) std::printf("  lost              %d\n", t.lost);
    for (const std::string& line : m.machine->places()) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The test's own checks: the counts shown go down by one from the total, one disc at a time, and
// a test that ran to its end moved exactly its discs, each to an output bin.
std::string test_checks(const MovementsWorld& m, const TestDiscs& t) {
    const TestWatch& watch = *m.watch;
    const long discs = m.discs;
    std::string broken;
    for (size_t i = 0; i < watch.remaining.size(); ++i)
        if (watch.remaining[i] != discs - 1 - static_cast<long>(i)) {
            broken += "the test dialog showed" + remaining_shown(watch) + " remaining of " + std::to_string(discs) + "\n";
            break;
        }
    if (watch.shown && watch.total != std::to_string(discs))
        broken += "the test dialog's total is \"" + watch.total + "\", not " + std::to_string(discs) + "\n";
    if (test_completed(watch) && (t.moved != discs || t.in_output != discs || t.left || t.rejected || t.lost))
        broken += "not every disc of the test is in an output bin: " + std::to_string(t.in_output) + " of " +
                  std::to_string(discs) + " (" + std::to_string(t.moved) + " moved, " + std::to_string(t.left) +
                  " left in the machine, " + std::to_string(t.rejected) + " rejected, " + std::to_string(t.lost) + " lost)\n";
    return broken;
}

// The verdict, said on stderr with the seed that replays the run. A test that did not run to its
// end by itself (not stopped as asked) counts as aborted.
sim::Verdict judge_movements(MovementsWorld& m, const MovementsRun& run, const TestDiscs& t) {
    const uint64_t seed = m.o.seed;
    if (!run.result.ok()) {
        std::fprintf(stderr, "rovane-sim movements: the world stopped: %s\nseed %" PRIu64 " replays this run\n",
                     run.result.report.c_str(), seed);
        return sim::Verdict::WorldStopped;
    }
    const std::string broken = m.machine->check_invariants(run.ended) + test_checks(m, t);
    const bool ended_early = !test_completed(*m.watch) && !m.watch->stopped;
    const sim::Verdict verdict = sim::verdict_of(true, broken, ended_early);
    if (verdict == sim::Verdict::InvariantBroken)
        std::fprintf(stderr, "rovane-sim movements: invariants broken:\n%sseed %" PRIu64 " replays this run\n",
                     broken.c_str(), seed);
    else if (verdict == sim::Verdict::Aborted)
        std::fprintf(stderr, "rovane-sim movements: the test did not run to its end (%s); seed %" PRIu64
                     " replays this run\n", test_ending(*m.watch, run).c_str(), seed);
    else
        std::fprintf(stderr, "invariants hold: no disc lost or duplicated, no thread of the module left running; "
                     "seed %" PRIu64 " replays this run\n", seed);
    return verdict;
}

int run_movements(const MovementsOptions& o) {
    MovementsWorld m(o);
    if (const int refused = build_movements_world(m)) return refused;
    const MovementsRun run = run_movements_host(m);
    const TestDiscs discs = count_test_discs(m);
    report_movements(m, run, discs);
    return sim::exit_code(judge_movements(m, run, discs));
}

}  // namespace

Command add_movements_command(CLI::App& tool) {
    auto o = std::make_shared<MovementsOptions>();
    CLI::App* c = tool.add_subcommand("movements", "The manual movements dialog's multiple-disc move test, run by an operator.");
    c->footer(
        "Builds the world of 'run' (a QIX on COM1, its recorders in positions A.., 25 blank discs in\n"
        "each input bin 4, 2, 5 and 1), starts the module and calls Rovane_Movements, as a host does\n"
        "from its menu. In the \"Duplicator Movements\" dialog the operator sets the number of discs\n"
        "with the up-down control (it counts from the robot's drive count in steps of it, so N must\n"
        "be a multiple of the drive count: 2, 4, 6 ... with --drives 2; 4, 8 ... with 4), ticks \"Printer\" with --printer and \"Laminator\" with --laminator,\n"
        "and clicks Start Test; answers the message that asks to clear the recorders; watches the\n"
        "\"Multiple Disc Move Test\" dialog count the discs down, clicking Stop Test --stop-after\n"
        "seconds after it opened when that is given; and clicks Exit once it has closed. Then the\n"
        "host ends the module. The operator otherwise acts as in 'run' (refills an empty input bin,\n"
        "clears robot errors, answers Retry).\n"
        "\n"
        "With --printer NAME the settings file names that printer, so start-up chooses it; with\n"
        "--laminator the settings file names none and holds \"Laminate Disc\" 1, and the operator\n"
        "chooses the printer (or none) and \"Use Laminator\" in the printer selection dialog. The\n"
        "test includes the laminator only when it is in use.\n"
        "\n"
        "Prints one line per call (init, movements, end) with, under it, the windows shown, what the\n"
        "robot received (other than _SI), and the counts the test dialog showed:\n"
        "    <virtual ms> test total N remaining N     when it opened\n"
        "    <virtual ms> remaining K                  each count after\n"
        "then how the test ended, the counts shown, the discs moved and where they are, and the\n"
        "place lines of every place that holds discs.\n"
        "\n"
        "Exit 0 when the test ran to its end (or was stopped as asked) and the invariants hold: no\n"
        "disc lost or duplicated, the counts going down by one from N, every disc of a finished test\n"
        "in an output bin, no thread of the module left running; 2 when the test did not run or\n"
        "ended early by itself; 3 when the world stopped (a window nobody answered, a deadlock, the\n"
        "time budget); 4 when an invariant broke (the seed that replays it is printed); 1 on a usage\n"
        "error.");
    c->add_option("--discs", o->discs, "discs the test moves: a multiple of the robot's drive count, up to 400")->type_name("N")->required()->check(whole_number(1, 400));
    c->add_option("--stop-after", o->stop_after, "click Stop Test this long after the test dialog opened")
        ->type_name("SECONDS")
        ->check(seconds(0, 86400));
    c->add_option("--seed", o->seed, "the world's seed (default 1): the same seed runs the same test")
        ->type_name("N")
        ->check(whole_number());
    add_machine_flags(c, &o->machine, false);
    adapt_for_jobs(c);
    return {c, [o] { return run_movements(*o); }};
}

}  // namespace rovane_tool
