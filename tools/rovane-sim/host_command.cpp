// rovane-sim host: a host application in the simulated world. It runs a script of export calls
// on the host's thread, one call a line, and prints what each call returned, with the windows the
// operator saw and answered (and, with --wire, the robot's commands and the documents the printers
// received) in between.
//
// The script is read and checked by the reader the Windows host program shares
// (tools/host-script/host_script.h, where the language is described), so that both run the same
// scripts with the same messages. The operator is run's: the default rules of the person at the
// machine (sim::install_default_operator, and Retry to a wait for a print that timed out), tried
// after the script's own answer and dialog lines.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/recording_host.h"
#include "harness/verdict.h"
#include "host_command.h"
#include "host_script.h"
#include "kernel/transcript.h"
#include "machine_flags.h"
#include "operator_answers.h"
#include "print_file.h"
#include "printer_lines.h"
#include "resources/resource.h"
#include "rovane.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

static_assert(HS_OK == IDOK && HS_CANCEL == IDCANCEL && HS_ABORT == IDABORT && HS_RETRY == IDRETRY &&
                  HS_IGNORE == IDIGNORE && HS_YES == IDYES && HS_NO == IDNO,
              "an answer line's message box buttons are the button ids");

std::string text_of(const HsText& t) { return std::string(t.p, t.cb); }

sim::DialogAction dialog_action(const HsAction& a) {
    switch (a.kind) {
        case HS_CLICK: return sim::DialogAction::click(a.control);
        case HS_CHECK: return sim::DialogAction::check(a.control, true);
        case HS_UNCHECK: return sim::DialogAction::check(a.control, false);
        case HS_SELECT: return sim::DialogAction::select(a.control, text_of(a.item));
        case HS_CLOSE: break;
    }
    return sim::DialogAction::close();
}

// Collects the transcript's window events (and the wire, when asked) since the last call, as
// indented lines printed under the call's own line. It follows the transcript and the robot's log
// as they grow (both keep only their recent entries in memory) and keeps just the lines it prints.
class EventPrinter {
public:
    EventPrinter(sim::Autoloader& machine, bool wire) : machine_(machine), wire_(wire) {
        entry_listener_ = machine_.world.kernel().transcript().subscribe([this](const sim::TranscriptEntry& e) {
            if (e.kind == "window" && (e.text.rfind("msgbox ", 0) == 0 || e.text.rfind("dialog ", 0) == 0))
                windows_.push_back(Line{e.time_us, "    " + std::to_string(e.time_us / sim::kMs) + " " + with_buttons(e.text) + "\n"});
        });
        if (wire_) {
            command_listener_ = machine_.robot->on_received([this](const sim::ReceivedCommand& c) {
                if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") return;
                commands_.push_back(Line{c.time, "    " + c.line() + "\n"});
            });
            // The documents the printers receive, among the robot's commands, as serve prints them.
            witness_documents(machine_.world, [this](const sim::SpoolDocument& d) {
                const sim::Micros now = machine_.world.kernel().now();
                commands_.push_back(Line{now, "    " + std::to_string(now / sim::kMs) + " " + document_line(d) + "\n"});
            });
        }
    }
    ~EventPrinter() {
        machine_.world.kernel().transcript().unsubscribe(entry_listener_);
        if (wire_) machine_.robot->remove_received_listener(command_listener_);
    }

    std::string take() {
        std::string out;
        size_t w = 0, c = 0;
        while (w < windows_.size() || c < commands_.size()) {
            const bool take_window = w < windows_.size() && (c >= commands_.size() || windows_[w].time <= commands_[c].time);
            out += take_window ? windows_[w++].text : commands_[c++].text;
        }
        windows_.clear();
        commands_.clear();
        return out;
    }

private:
    // "msgbox shown ... flags=0x35 ..." gains the buttons the flags offer, as the user sees them.
    static std::string with_buttons(const std::string& text) {
        const size_t at = text.find(" flags=0x");
        if (text.rfind("msgbox shown ", 0) != 0 || at == std::string::npos) return text;
        const size_t end = text.find(' ', at + 1);
        const UINT flags = static_cast<UINT>(std::strtoul(text.c_str() + at + 9, nullptr, 16));
        std::string buttons;
        for (int id : sim::message_box_buttons(flags)) buttons += (buttons.empty() ? "" : "|") + sim::button_name(id);
        return text.substr(0, end) + " buttons=" + buttons + text.substr(end);
    }

    struct Line {
        sim::Micros time;
        std::string text;
    };

    sim::Autoloader& machine_;
    bool wire_;
    int entry_listener_ = 0, command_listener_ = 0;
    std::vector<Line> windows_, commands_;
};

// An answer line's rule, as run's --answer rules are made (install_answers, flags.cpp): a message
// box button for the boxes whose text contains the pattern, or what the person does about the
// robot's status message whose text contains it.
sim::Operator::Rule& answer_rule(sim::Autoloader& machine, const HsStep& s) {
    const std::string pattern = text_of(s.text[0]);
    const std::string name = "script line " + std::to_string(s.line) + ": answer " + pattern + "=" + hs_button_name(s.button);
    sim::Operator& op = machine.world.op();
    if (s.button != HS_ABORTJOB && s.button != HS_PAUSEPICK && s.button != HS_REFILL)
        return op.on_message_box(pattern).answer(s.button).named(name);  // HS_OK ... are IDOK ...
    return robot_message_rule(machine.world, machine.robot, pattern, hs_button_name(s.button)).named(name);
}

std::string quoted(const std::string& s) { return "\"" + sim::Transcript::escape(s) + "\""; }
std::string quoted(const HsText& t) { return quoted(text_of(t)); }

// The script, freed at the end.
struct Script {
    HsScript s{};
    ~Script() { hs_free(&s); }
};

// The host program at work: the machine, the lines it prints and the moves it still follows.
struct ScriptHost {
    sim::Autoloader& machine;
    EventPrinter& events;
    bool ended = false;
    // Moves posted and not yet seen to end with 1 or 4, by unit, with the time they were posted.
    std::map<long long, unsigned long long> unwaited_moves;
};

unsigned long long now_ms() { return static_cast<unsigned long long>(sim::kernel().now() / sim::kMs); }

// The script's lines for the operator (answer, dialog) and its pauses: true when `s` was one.
bool take_operator_line(ScriptHost& h, const HsStep& s) {
    switch (s.call) {
        case HS_ANSWER: {
            auto& rule = answer_rule(h.machine, s);
            if (s.once) rule.times(1);
            return true;
        }
        case HS_DIALOG: {
            auto& rule = h.machine.world.op().on_dialog(static_cast<int>(s.n[0])).times(1);
            rule.named("script line " + std::to_string(s.line));
            for (int a = 0; a < s.action_count; ++a) rule.actions.push_back(dialog_action(s.actions[a]));
            return true;
        }
        case HS_SLEEP:
            Sleep(static_cast<DWORD>(s.n[0]));
            return true;
        default:
            return false;
    }
}

// Start-up, shutdown and the robot's status.
void call_module(ScriptHost& h, const HsStep& s) {
    if (s.call == HS_INIT) {
        const std::string host_name = text_of(s.text[0]), list = text_of(s.text[1]);
        const sim::InitOutcome r = s.has_list ? h.machine.init_module(host_name, &list) : h.machine.init_module(host_name);
        std::printf("%llu init %s -> %ld\n", now_ms(), quoted(host_name).c_str(), static_cast<long>(r.result));
        for (const std::string& l : r.lines) std::printf("    recorder %s\n", quoted(l).c_str());
        if (!r.product.empty())
            std::printf("    product %s error=%u\n", quoted(r.product).c_str(), static_cast<unsigned>(r.error));
    } else if (s.call == HS_END) {
        char text[ROVANE_END_TEXT_SIZE + 1] = {};
        const DWORD result = Rovane_End(text);
        h.ended = true;
        std::printf("%llu end -> %lu\n    text %s\n", now_ms(), static_cast<unsigned long>(result), quoted(text).c_str());
    } else if (s.call == HS_STATUS) {
        BYTE status[22] = {};
        DWORD length = 0, type = 0;
        const DWORD result = Rovane_GetRoboStatus(status, sizeof status, &length, &type);
        std::printf("%llu status -> %lu\n", now_ms(), static_cast<unsigned long>(result));
        if (result)
            std::printf("    state=%c error=%c printer=%c tray=%c position=%c aux=%c picker=%c firmware=%s\n", status[0],
                        status[1], status[2], status[3], status[4], status[5], status[6],
                        quoted(reinterpret_cast<const char*>(status + 7)).c_str());
    }
}

// The job's begin and end, its moves and the host's polls of them.
void call_job(ScriptHost& h, const HsStep& s) {
    if (s.call == HS_JOB) {
        const LONG result = Rovane_JobBeginsOrEnds(0, static_cast<DWORD>(s.n[1]), static_cast<LONG>(s.n[0]));
        const std::string code = s.job_word ? s.job_word : std::to_string(s.n[0]);
        std::printf("%llu job %s %lld -> %ld\n", now_ms(), code.c_str(), s.n[1], static_cast<long>(result));
    } else if (s.call == HS_MOVE) {
        const LONG result = Rovane_PostMoveDisc(static_cast<DWORD>(s.n[0]), static_cast<LONG>(s.n[1]), 0, 0);
        if (result == 1) h.unwaited_moves[s.n[0]] = now_ms();
        std::printf("%llu move %lld %lld -> %ld\n", now_ms(), s.n[0], s.n[1], static_cast<long>(result));
    } else if (s.call == HS_WAIT) {
        DWORD state = ROVANE_IN_PROGRESS;
        int polls = 0;
        while ((state = Rovane_CheckMoveDisc(static_cast<DWORD>(s.n[0]))) == ROVANE_IN_PROGRESS) {
            ++polls;
            Sleep(500);
        }
        if (state == ROVANE_DONE || state == ROVANE_ABORTED) h.unwaited_moves.erase(s.n[0]);
        std::printf("%llu wait %lld -> %lu after %d polls\n", now_ms(), s.n[0], static_cast<unsigned long>(state), polls);
    }
}

// The print file (a world file, like the host's own: the folders of its path, then the file).
void write_print_file(ScriptHost& h, const HsStep& s) {
    const std::string path = text_of(s.text[0]);
    const PfRecipe recipe = pf_recipe(static_cast<PfKind>(s.print_kind));
    std::string bytes(pf_make(&recipe, nullptr, 0), '\0');
    pf_make(&recipe, reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size());
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) h.machine.world.files().mkdir(path.substr(0, slash));
    const bool written = h.machine.world.files().write_file(path, bytes);
    std::printf("%llu printfile %s %s -> %zu\n", now_ms(), quoted(path).c_str(),
                pf_kind_name(static_cast<PfKind>(s.print_kind)), written ? bytes.size() : static_cast<size_t>(0));
}

// The print file, its check, the move-and-print requests and the poll of the printing.
void call_printing(ScriptHost& h, const HsStep& s) {
    if (s.call == HS_PRINTFILE) {
        write_print_file(h, s);
    } else if (s.call == HS_VALIDPRINT) {
        const LONG result = Rovane_CheckValidPrint(0, static_cast<LONG>(s.n[0]), 0, s.text[0].p, 0, 0);
        std::printf("%llu validprint %lld %s -> %ld\n", now_ms(), s.n[0], quoted(s.text[0]).c_str(),
                    static_cast<long>(result));
    } else if (s.call == HS_MOVEPRINT) {
        const LONG result = Rovane_PostMoveAndPrint(static_cast<DWORD>(s.n[0]), static_cast<LONG>(s.n[1]), 0,
                                                    s.text[0].p, "", static_cast<DWORD>(s.n[2]));
        if (result == 1 && s.n[1] == ROVANE_RECORD_AND_PRINT) h.unwaited_moves[s.n[0]] = now_ms();
        std::printf("%llu moveprint %lld %lld %lld %s -> %ld\n", now_ms(), s.n[0], s.n[1], s.n[2],
                    quoted(s.text[0]).c_str(), static_cast<long>(result));
    } else if (s.call == HS_CHECKPRINTING) {
        const DWORD result = Rovane_CheckPrinting(0);
        std::printf("%llu checkprinting -> %lu\n", now_ms(), static_cast<unsigned long>(result));
    }
}

// The dialogs the host opens from its menu, the accumulator and the service calls.
void call_services(const HsStep& s) {
    if (s.call == HS_OPTIONS) {
        const DWORD result = Rovane_Options();
        std::printf("%llu options -> %lu\n", now_ms(), static_cast<unsigned long>(result));
    } else if (s.call == HS_MOVEMENTS) {
        const DWORD result = Rovane_Movements(0);
        std::printf("%llu movements -> %lu\n", now_ms(), static_cast<unsigned long>(result));
    } else if (s.call == HS_CHECKACCUMULATOR) {
        const DWORD result = Rovane_CheckAccumulator(0);
        std::printf("%llu checkaccumulator -> %lu\n", now_ms(), static_cast<unsigned long>(result));
    } else if (s.call == HS_SERVICES) {
        const LONG result = Rovane_Services(static_cast<LONG>(s.n[0]), static_cast<LONG>(s.n[1]));
        std::printf("%llu services %lld %lld -> %ld\n", now_ms(), s.n[0], s.n[1], static_cast<long>(result));
    }
}

// The script on the host's thread, one line at a time, the windows and the wire under each call.
void run_script(ScriptHost& h, const HsScript& script) {
    h.machine.host_window();  // the host application has its window before it loads the module
    for (int i = 0; i < script.count; ++i) {
        const HsStep& s = script.steps[i];
        if (take_operator_line(h, s)) continue;
        call_module(h, s);
        call_job(h, s);
        call_printing(h, s);
        call_services(s);
        std::fputs(h.events.take().c_str(), stdout);
        std::fflush(stdout);
    }
}

// The script read and checked; with --check, printed as read. Nonzero: the exit code.
int read_script(const HostOptions& o, Script* script) {
    char error[1024];
    if (!hs_read(o.script_path.c_str(), &script->s, error, sizeof error)) {
        std::fprintf(stderr, "rovane-sim host: %s\n", error);
        return sim::exit_code(sim::Verdict::UsageError);
    }
    return 0;
}

void print_script(const Script& script) {
    for (int i = 0; i < script.s.count; ++i) {
        char* line = hs_describe(&script.s.steps[i]);
        std::printf("%s\n", line);
        std::free(line);
    }
}

// The invariants, and every move the script posted seen to end.
sim::Verdict judge_host(const ScriptHost& h, const sim::RunResult& result) {
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim host: the world stopped: %s\n", result.report.c_str());
        return sim::Verdict::WorldStopped;
    }
    std::string broken = h.machine.check_invariants(h.ended);
    for (const auto& [unit, posted] : h.unwaited_moves)
        broken += "the move posted for unit " + std::to_string(unit) + " at " + std::to_string(posted) +
                  " ms was never seen to end with 1 or 4 (add a wait line)\n";
    if (!broken.empty()) std::fprintf(stderr, "rovane-sim host: invariants broken:\n%s", broken.c_str());
    return sim::verdict_of(true, broken, false);
}

// The module's own log, read out of the world's data folder and copied to `path`; false (after a
// message) when the file cannot be written.
bool copy_module_log(sim::Autoloader& machine, const std::string& path) {
    std::string module_log;
    machine.world.files().read_file(std::string(kDataFolder) + "Rovane_QIX.dbg", &module_log);
    std::ofstream copy(path, std::ios::binary | std::ios::trunc);
    copy << module_log;
    copy.close();
    if (copy) return true;
    std::fprintf(stderr, "rovane-sim host: cannot write the module's log to '%s'\n", path.c_str());
    return false;
}

}  // namespace

int run_host(const HostOptions& o) {
    Script script;
    if (const int refused = read_script(o, &script)) return refused;
    if (o.check_only) {
        print_script(script);
        return 0;
    }
    sim::Autoloader machine(machine_config(o.machine, o.seed));
    // A path that cannot be written is refused before the world runs.
    if (!o.module_log_path.empty() && !std::ofstream(o.module_log_path, std::ios::app))
        return usage_error("host", "cannot write '" + o.module_log_path + "'");
    if (!o.transcript_path.empty() && !machine.world.kernel().transcript().stream_to(o.transcript_path))
        return usage_error("host", "cannot write the transcript to '" + o.transcript_path + "'");
    apply_machine_faults(o.machine, machine);
    // The operator of run: a print that never came is gone on without (run_command.cpp), and the
    // person at the machine does the rest. The script's answer and dialog lines come first.
    machine.world.op().on_message_box("Wait for printing timed out").named("go on without the print").answer(IDRETRY);
    sim::install_default_operator(machine);
    machine.world.op().make_rules_fallbacks();
    if (o.think >= 0) machine.world.op().set_think_time(static_cast<sim::Micros>(std::llround(o.think * sim::kSecond)));
    machine.world.load_module();
    EventPrinter events(machine, o.wire);
    ScriptHost h{machine, events};
    sim::SimThread* host = machine.world.spawn("host", [&h, &script] { run_script(h, script.s); });
    sim::RunResult result = machine.world.run([host] { return host->state == sim::ThreadState::Finished; });
    if (result.ok()) result = machine.settle();
    std::fputs(events.take().c_str(), stdout);
    if (result.ok() && (o.places || o.wire))
        for (const std::string& p : machine.places()) std::printf("%s\n", p.c_str());
    const int exit_code = sim::exit_code(judge_host(h, result));
    // The log is copied whatever the run came to: a replay compares it even when the world stopped.
    if (!o.module_log_path.empty() && !copy_module_log(machine, o.module_log_path) && exit_code == 0)
        return sim::exit_code(sim::Verdict::UsageError);
    return exit_code;
}

}  // namespace rovane_tool
