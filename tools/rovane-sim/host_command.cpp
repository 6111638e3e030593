// rovane-sim host: a host application in the simulated world. It runs a script of export calls
// on the host's thread, one call a line, and prints what each call returned, with the windows the
// operator saw and answered (and, with --wire, the robot's commands) in between.
//
// The script language is deliberately small and line-based, so that a Windows host program can
// run the same scripts against the real DLL:
//
//   # a comment                     blank lines and comments are skipped
//   answer PATTERN=BUTTON [once]    message boxes whose text contains PATTERN are answered with
//                                   BUTTON (OK CANCEL RETRY YES NO ABORT IGNORE); rules are tried
//                                   in the order given; "once" answers one box only
//   dialog ID ACTION[; ACTION...]   the next showing of dialog ID is answered with these actions:
//                                   click CTRL | check CTRL | uncheck CTRL | select CTRL TEXT | close
//                                   one after the other, each once the dialog has dealt with the
//                                   one before (a message box it opened answered first)
//   init HOST [LIST]                Rovane_Init with host name HOST and recorder list LIST (the
//                                   world's own list when absent)
//   end                             Rovane_End
//   status                          Rovane_GetRoboStatus
//   options                         Rovane_Options
//   movements                       Rovane_Movements (its dialogs answered by "dialog" lines)
//   services KIND CODE              Rovane_Services
//   job begin|end|abort N           Rovane_JobBeginsOrEnds with code 1, 2 or 3 for a job of N discs
//   job CODE N                      Rovane_JobBeginsOrEnds with any other code (4: logged only)
//   move UNIT ACTION                Rovane_PostMoveDisc
//   wait UNIT                       Rovane_CheckMoveDisc every 500 ms until it reports 1 or 4
//   sleep MS                        the host waits MS milliseconds
//   printfile PATH KIND             writes a generated print file of that kind (pellan-iv,
//                                   pellan-pro, optical-disc-printer, varrow, varrow-2, tessik-6,
//                                   label, short, wrong) at PATH, its folder created as needed
//   validprint ACTION FILE          Rovane_CheckValidPrint(0, ACTION, 0, FILE, 0, 0)
//   moveprint UNIT ACTION DISCNUM FILE
//                                   Rovane_PostMoveAndPrint(UNIT, ACTION, 0, FILE, "", DISCNUM)
//   checkprinting                   Rovane_CheckPrinting(0)
//
// The laminator (machine flag --laminator) is chosen as a user chooses it: "dialog 119 check 1200;
// click 1" before "options", or "dialog 122 select 1081 \"NAME on PORT\"; check 1197; click 1"
// before an "init" that shows the printer selection dialog (no printer named in the settings).
// The module ticks either box by itself when "Laminate Disc" is not 0 and the laminator answers.
//
// Words with blanks are written in double quotes; inside and outside quotes \r, \n, \0, \t, \",
// \\ stand for themselves.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/print_files.h"
#include "kernel/transcript.h"
#include "rovane.h"
#include "tool_commands.h"
#include "win32/files.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

// Splits a script line into words: blanks separate, double quotes group, backslash escapes.
bool split_words(const std::string& line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    std::string word;
    bool in_word = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            const char e = line[++i];
            switch (e) {
                case 'r': word += '\r'; break;
                case 'n': word += '\n'; break;
                case 't': word += '\t'; break;
                case '0': word += '\0'; break;
                default: word += e; break;
            }
            in_word = true;
        } else if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (in_word) words->push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quoted) {
        *error = "a quote is not closed";
        return false;
    }
    if (in_word) words->push_back(word);
    return true;
}

int button_id(const std::string& name) { return message_box_button(name); }

bool parse_int(const std::string& text, long* value) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end) return false;
    *value = v;
    return true;
}

// One script line, checked before the world runs.
struct Step {
    int line = 0;
    std::vector<std::string> words;
};

// The dialog actions of a "dialog" line: ID then actions separated by ";".
bool parse_dialog_actions(const std::vector<std::string>& words, int* dialog_id,
                          std::vector<sim::DialogAction>* actions, std::string* error) {
    long id = 0;
    if (words.size() < 3 || !parse_int(words[1], &id) || id <= 0) {
        *error = "dialog takes ID ACTION[; ACTION...]";
        return false;
    }
    *dialog_id = static_cast<int>(id);
    std::vector<std::vector<std::string>> groups(1);
    for (size_t i = 2; i < words.size(); ++i) {
        std::string w = words[i];
        const bool ends_group = !w.empty() && w.back() == ';';
        if (ends_group) w.pop_back();
        if (!w.empty()) groups.back().push_back(w);
        if (ends_group) groups.emplace_back();
    }
    for (const auto& g : groups) {
        if (g.empty()) continue;
        long ctrl = 0;
        if (g[0] == "close" && g.size() == 1) {
            actions->push_back(sim::DialogAction::close());
        } else if ((g[0] == "click" || g[0] == "check" || g[0] == "uncheck") && g.size() == 2 && parse_int(g[1], &ctrl)) {
            if (g[0] == "click")
                actions->push_back(sim::DialogAction::click(static_cast<int>(ctrl)));
            else
                actions->push_back(sim::DialogAction::check(static_cast<int>(ctrl), g[0] == "check"));
        } else if (g[0] == "select" && g.size() >= 3 && parse_int(g[1], &ctrl)) {
            std::string text = g[2];
            for (size_t i = 3; i < g.size(); ++i) text += " " + g[i];
            actions->push_back(sim::DialogAction::select(static_cast<int>(ctrl), text));
        } else {
            *error = "unknown dialog action '" + g[0] + "'";
            return false;
        }
    }
    if (actions->empty()) {
        *error = "dialog needs at least one action";
        return false;
    }
    return true;
}

bool check_step(const Step& s, std::string* error) {
    const auto& w = s.words;
    const std::string& verb = w[0];
    long n = 0;
    if (verb == "answer") {
        const size_t eq = w.size() >= 2 ? w[1].rfind('=') : std::string::npos;
        if (w.size() < 2 || w.size() > 3 || eq == std::string::npos || eq == 0 || !button_id(w[1].substr(eq + 1)) ||
            (w.size() == 3 && w[2] != "once")) {
            *error = "answer takes PATTERN=BUTTON [once]";
            return false;
        }
        return true;
    }
    if (verb == "dialog") {
        int id = 0;
        std::vector<sim::DialogAction> actions;
        return parse_dialog_actions(w, &id, &actions, error);
    }
    if (verb == "init") {
        if (w.size() < 2 || w.size() > 3) {
            *error = "init takes HOST [LIST]";
            return false;
        }
        return true;
    }
    if (verb == "printfile") {
        sim::PrintFileKind kind;
        if (w.size() != 3 || !sim::print_file_kind(w[2], &kind)) {
            *error = "printfile takes PATH KIND (pellan-iv, pellan-pro, optical-disc-printer, varrow, varrow-2, "
                     "tessik-6, label, short, wrong)";
            return false;
        }
        return true;
    }
    if (verb == "validprint") {
        if (w.size() != 3 || !parse_int(w[1], &n)) {
            *error = "validprint takes ACTION FILE";
            return false;
        }
        return true;
    }
    if (verb == "moveprint") {
        long m = 0, d = 0;
        if (w.size() != 5 || !parse_int(w[1], &n) || !parse_int(w[2], &m) || !parse_int(w[3], &d)) {
            *error = "moveprint takes UNIT ACTION DISCNUM FILE";
            return false;
        }
        return true;
    }
    if (verb == "end" || verb == "status" || verb == "options" || verb == "movements" || verb == "checkprinting") {
        if (w.size() != 1) *error = verb + " takes no arguments";
        return w.size() == 1;
    }
    if (verb == "services") {
        long m = 0;
        if (w.size() != 3 || !parse_int(w[1], &n) || !parse_int(w[2], &m)) {
            *error = "services takes KIND CODE";
            return false;
        }
        return true;
    }
    if (verb == "job") {
        long code = 0;
        if (w.size() != 3 || (w[1] != "begin" && w[1] != "end" && w[1] != "abort" && !parse_int(w[1], &code)) ||
            !parse_int(w[2], &n) || n < 0) {
            *error = "job takes begin|end|abort|CODE N";
            return false;
        }
        return true;
    }
    if (verb == "move") {
        long m = 0;
        if (w.size() != 3 || !parse_int(w[1], &n) || !parse_int(w[2], &m)) {
            *error = "move takes UNIT ACTION";
            return false;
        }
        return true;
    }
    if (verb == "wait") {
        if (w.size() != 2 || !parse_int(w[1], &n)) {
            *error = "wait takes UNIT";
            return false;
        }
        return true;
    }
    if (verb == "sleep") {
        if (w.size() != 2 || !parse_int(w[1], &n) || n < 0 || n > 24L * 3600 * 1000) {
            *error = "sleep takes milliseconds (0 to one day)";
            return false;
        }
        return true;
    }
    *error = "unknown call '" + verb + "'";
    return false;
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
        if (wire_)
            command_listener_ = machine_.robot->on_received([this](const sim::ReceivedCommand& c) {
                if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") return;
                commands_.push_back(Line{c.time, "    " + c.line() + "\n"});
            });
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

std::string quoted(const std::string& s) { return "\"" + sim::Transcript::escape(s) + "\""; }

}  // namespace

int run_host(const HostOptions& o) {
    const std::string& script_path = o.script_path;
    const bool wire = o.wire, show_transcript = o.show_transcript;
    const sim::AutoloaderConfig cfg = machine_config(o.machine, o.seed);

    // --- the script ----------------------------------------------------------------------------
    std::ifstream file;
    std::istream* in = &std::cin;
    if (script_path != "-") {
        file.open(script_path);
        if (!file) {
            std::fprintf(stderr, "rovane-sim host: cannot read the script '%s'\n", script_path.c_str());
            return 1;
        }
        in = &file;
    }
    std::vector<Step> steps;
    std::string line;
    for (int number = 1; std::getline(*in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Step s;
        s.line = number;
        std::string error;
        if (!split_words(line, &s.words, &error)) {
            std::fprintf(stderr, "rovane-sim host: %s:%d: %s\n", script_path.c_str(), number, error.c_str());
            return 1;
        }
        if (s.words.empty() || s.words[0][0] == '#') continue;
        if (!check_step(s, &error)) {
            std::fprintf(stderr, "rovane-sim host: %s:%d: %s\n", script_path.c_str(), number, error.c_str());
            return 1;
        }
        steps.push_back(s);
    }

    // --- the world -----------------------------------------------------------------------------
    sim::Autoloader machine(cfg);
    apply_machine_faults(o.machine, machine);
    // The whole transcript is printed at the end: keep all of it, not only its recent part.
    if (show_transcript) machine.world.kernel().transcript().set_retained(0);
    // A notice with only an OK button is read and closed; every question needs a rule.
    machine.world.op().set_default_answer(sim::Operator::DefaultAnswer::OkOnly);
    machine.world.load_module();
    EventPrinter events(machine, wire);
    bool ended = false;
    // Moves posted and not yet seen to end with 1 or 4, by unit, with the time they were posted.
    std::map<long, unsigned long long> unwaited_moves;

    sim::SimThread* host = machine.world.spawn("host", [&] {
        machine.host_window();  // the host application has its window before it loads the module
        for (const Step& s : steps) {
            const auto& w = s.words;
            const std::string& verb = w[0];
            if (verb == "answer") {
                const size_t eq = w[1].rfind('=');
                auto& rule = machine.world.op().on_message_box(w[1].substr(0, eq)).answer(button_id(w[1].substr(eq + 1)));
                if (w.size() == 3) rule.times(1);
                continue;
            }
            if (verb == "dialog") {
                int id = 0;
                std::vector<sim::DialogAction> actions;
                std::string error;
                parse_dialog_actions(w, &id, &actions, &error);
                auto& rule = machine.world.op().on_dialog(id).times(1);
                rule.actions = actions;
                continue;
            }
            if (verb == "sleep") {
                long ms = 0;
                parse_int(w[1], &ms);
                Sleep(static_cast<DWORD>(ms));
                continue;
            }
            const auto now_ms = [] { return static_cast<unsigned long long>(sim::kernel().now() / sim::kMs); };
            if (verb == "init") {
                const sim::InitOutcome r = w.size() == 3 ? machine.init_module(w[1], &w[2]) : machine.init_module(w[1]);
                std::printf("%llu init %s -> %ld\n", now_ms(), quoted(w[1]).c_str(), static_cast<long>(r.result));
                for (const std::string& l : r.lines) std::printf("    recorder %s\n", quoted(l).c_str());
                if (!r.product.empty())
                    std::printf("    product %s error=%u\n", quoted(r.product).c_str(), static_cast<unsigned>(r.error));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "end") {
                char text[ROVANE_END_TEXT_SIZE + 1] = {};
                const DWORD result = Rovane_End(text);
                ended = true;
                std::printf("%llu end -> %lu\n    text %s\n", now_ms(), static_cast<unsigned long>(result), quoted(text).c_str());
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "status") {
                BYTE status[22] = {};
                DWORD length = 0, type = 0;
                const DWORD result = Rovane_GetRoboStatus(status, sizeof status, &length, &type);
                std::printf("%llu status -> %lu\n", now_ms(), static_cast<unsigned long>(result));
                if (result)
                    std::printf("    state=%c error=%c printer=%c tray=%c position=%c aux=%c picker=%c firmware=%s\n",
                                status[0], status[1], status[2], status[3], status[4], status[5], status[6],
                                quoted(reinterpret_cast<const char*>(status + 7)).c_str());
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "options") {
                const DWORD result = Rovane_Options();
                std::printf("%llu options -> %lu\n", now_ms(), static_cast<unsigned long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "movements") {
                const DWORD result = Rovane_Movements(0);
                std::printf("%llu movements -> %lu\n", now_ms(), static_cast<unsigned long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "job") {
                long discs = 0;
                parse_int(w[2], &discs);
                long code = 0;
                if (!parse_int(w[1], &code))
                    code = w[1] == "begin" ? ROVANE_JOB_BEGIN : w[1] == "end" ? ROVANE_JOB_END : ROVANE_JOB_ABORT;
                const LONG result = Rovane_JobBeginsOrEnds(0, static_cast<DWORD>(discs), static_cast<LONG>(code));
                std::printf("%llu job %s %ld -> %ld\n", now_ms(), w[1].c_str(), discs, static_cast<long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "move") {
                long unit = 0, action = 0;
                parse_int(w[1], &unit);
                parse_int(w[2], &action);
                const LONG result = Rovane_PostMoveDisc(static_cast<DWORD>(unit), action, 0, 0);
                if (result == 1) unwaited_moves[unit] = now_ms();
                std::printf("%llu move %ld %ld -> %ld\n", now_ms(), unit, action, static_cast<long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "wait") {
                long unit = 0;
                parse_int(w[1], &unit);
                DWORD state = ROVANE_IN_PROGRESS;
                int polls = 0;
                while ((state = Rovane_CheckMoveDisc(static_cast<DWORD>(unit))) == ROVANE_IN_PROGRESS) {
                    ++polls;
                    Sleep(500);
                }
                if (state == ROVANE_DONE || state == ROVANE_ABORTED) unwaited_moves.erase(unit);
                std::printf("%llu wait %ld -> %lu after %d polls\n", now_ms(), unit, static_cast<unsigned long>(state), polls);
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "printfile") {
                // The folders of the path, then the file (a world file, like the host's own).
                sim::PrintFileKind kind = sim::PrintFileKind::PellanIv;
                sim::print_file_kind(w[2], &kind);
                sim::PrintFileRecipe recipe;
                recipe.kind = kind;
                const std::string bytes = sim::make_print_file(recipe);
                const size_t slash = w[1].find_last_of("\\/");
                if (slash != std::string::npos) machine.world.files().mkdir(w[1].substr(0, slash));
                const bool written = machine.world.files().write_file(w[1], bytes);
                std::printf("%llu printfile %s %s -> %zu\n", now_ms(), quoted(w[1]).c_str(), w[2].c_str(),
                            written ? bytes.size() : static_cast<size_t>(0));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "validprint") {
                long action = 0;
                parse_int(w[1], &action);
                const LONG result = Rovane_CheckValidPrint(0, action, 0, w[2].c_str(), 0, 0);
                std::printf("%llu validprint %ld %s -> %ld\n", now_ms(), action, quoted(w[2]).c_str(),
                            static_cast<long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "moveprint") {
                long unit = 0, action = 0, disc = 0;
                parse_int(w[1], &unit);
                parse_int(w[2], &action);
                parse_int(w[3], &disc);
                const LONG result = Rovane_PostMoveAndPrint(static_cast<DWORD>(unit), action, 0, w[4].c_str(), "",
                                                            static_cast<DWORD>(disc));
                if (result == 1 && action == ROVANE_RECORD_AND_PRINT) unwaited_moves[unit] = now_ms();
                std::printf("%llu moveprint %ld %ld %ld %s -> %ld\n", now_ms(), unit, action, disc, quoted(w[4]).c_str(),
                            static_cast<long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "checkprinting") {
                const DWORD result = Rovane_CheckPrinting(0);
                std::printf("%llu checkprinting -> %lu\n", now_ms(), static_cast<unsigned long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "services") {
                long kind = 0, code = 0;
                parse_int(w[1], &kind);
                parse_int(w[2], &code);
                const LONG result = Rovane_Services(kind, code);
                std::printf("%llu services %ld %ld -> %ld\n", now_ms(), kind, code, static_cast<long>(result));
                std::fputs(events.take().c_str(), stdout);
            }
            std::fflush(stdout);
        }
    });
    sim::RunResult result = machine.world.run([host] { return host->state == sim::ThreadState::Finished; });
    if (result.ok()) result = machine.settle();
    std::fputs(events.take().c_str(), stdout);
    if (show_transcript) std::fputs(machine.world.transcript_text().c_str(), stdout);
    if (!result.ok()) {
        std::fprintf(stderr, "rovane-sim host: the world stopped: %s\n", result.report.c_str());
        return 3;
    }
    std::string broken = machine.check_invariants(ended);
    for (const auto& [unit, posted] : unwaited_moves)
        broken += "the move posted for unit " + std::to_string(unit) + " at " + std::to_string(posted) +
                  " ms was never seen to end with 1 or 4 (add a wait line)\n";
    if (!broken.empty()) {
        std::fprintf(stderr, "rovane-sim host: invariants broken:\n%s", broken.c_str());
        return 4;
    }
    return 0;
}

}  // namespace rovane_tool
