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
//   init HOST [LIST]                Rovane_Init with host name HOST and recorder list LIST (the
//                                   world's own list when absent)
//   end                             Rovane_End
//   status                          Rovane_GetRoboStatus
//   options                         Rovane_Options
//   services KIND CODE              Rovane_Services
//   job begin|end|abort N           Rovane_JobBeginsOrEnds with code 1, 2 or 3 for a job of N discs
//   move UNIT ACTION                Rovane_PostMoveDisc
//   wait UNIT                       Rovane_CheckMoveDisc every 500 ms until it reports 1 or 4
//   sleep MS                        the host waits MS milliseconds
//
// Words with blanks are written in double quotes; inside and outside quotes \r, \n, \0, \t, \",
// \\ stand for themselves.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "kernel/transcript.h"
#include "rovane.h"
#include "tool_commands.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace rovane_tool {

namespace {

void print_host_help() {
    std::printf(
        "rovane-sim host SCRIPT [flags]\n"
        "  Runs a host application's script of export calls (SCRIPT a file, or - for standard input)\n"
        "  against the module in a simulated world: a QIX robot on COM1 with its recorders (their\n"
        "  serial numbers stored in the settings file), an office printer and a printer on FILE:,\n"
        "  the label application installed. Prints one line per call,\n"
        "      <virtual ms> <call> -> <result>\n"
        "  followed by what the call returned in its buffers (init: each selected-recorder line and\n"
        "  the product name; status: the status bytes), and the message boxes and dialogs that\n"
        "  were shown and answered while it ran.\n"
        "\n"
        "  Message boxes with only an OK button are read and closed (after 1.5 s); every other box\n"
        "  and every dialog needs an answer line, or the run stops after ten minutes with a report.\n"
        "\n"
        "  Script lines:\n"
        "    # comment\n"
        "    answer PATTERN=BUTTON [once]  answer message boxes whose text contains PATTERN with\n"
        "                                  OK, CANCEL, RETRY, YES, NO, ABORT or IGNORE\n"
        "    dialog ID ACTION[; ACTION]    answer the next showing of dialog ID: click CTRL,\n"
        "                                  check CTRL, uncheck CTRL, select CTRL TEXT, close\n"
        "    init HOST [LIST]              Rovane_Init; LIST is the recorder list (default: the\n"
        "                                  world's), e.g. \"1,0,4,0,E,Pioneer DVD-RW DVR-112D\\r\\n\"\n"
        "    end                           Rovane_End\n"
        "    status                        Rovane_GetRoboStatus\n"
        "    options                       Rovane_Options\n"
        "    services KIND CODE            Rovane_Services\n"
        "    job begin|end|abort N         Rovane_JobBeginsOrEnds (codes 1, 2, 3) for N discs\n"
        "    move UNIT ACTION              Rovane_PostMoveDisc (100 load, 200 unload, 300 reject ...)\n"
        "    wait UNIT                     Rovane_CheckMoveDisc every 500 ms until 1 or 4\n"
        "    sleep MS                      the host waits\n"
        "  Words with blanks go in double quotes; \\r \\n \\0 \\t \\\" \\\\ are escapes.\n"
        "\n"
        "  World flags:\n"
        "    --seed N            the world's seed (default 1)\n"
        "    --drives 1|2|4      recorders the host has, in positions A.. (default 4)\n"
        "    --drive-code C      the robot's drive-count character (default A for 4 drives, B else)\n"
        "    --model LETTERS     the robot's model letters (default R, a QIX; N or Q older models)\n"
        "    --firmware TEXT     the robot's firmware version (default 1.13)\n"
        "    --port COMn         the port the robot is on (default COM1)\n"
        "    --robot-off         the robot is switched off\n"
        "    --noise P           probability that a reply of the robot is damaged\n"
        "    --printer NAME      a disc printer of that name on the robot's auxiliary cable and in\n"
        "                        the spooler\n"
        "    --printer-port P    its spooler port (default LPT1:)\n"
        "    --no-office-printers  no office printer and no printer on FILE:\n"
        "    --laminator         the laminator \"Disc Laminator\" is installed\n"
        "    --lam-firmware TEXT its firmware text (default \"LAM 2.04\")\n"
        "    --lam-silent        the laminator answers no status request\n"
        "    --lam-corrupt N     its next N status records are corrupt\n"
        "    --no-label-app      the label application is not installed\n"
        "    --no-stored-serials the settings file does not know the recorders' places\n"
        "    --setting KEY=VALUE a key of the settings file as the last session left it (repeatable)\n"
        "    --name TEXT         the host lists its recorders under this model name (repeatable,\n"
        "                        one per position)\n"
        "    --wire              print the robot's commands (other than _SI) as they arrive\n"
        "    --transcript        print the whole transcript at the end\n"
        "\n"
        "  Exit 0 when the script ran and the run's invariants hold; 1 on a usage or script error;\n"
        "  3 when the world stopped (a window nobody answered, a deadlock, the time budget); 4 when an\n"
        "  invariant broke (the seed that replays it is printed).\n");
}

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

int button_id(const std::string& name) {
    static const std::pair<const char*, int> kButtons[] = {{"OK", IDOK},   {"CANCEL", IDCANCEL}, {"RETRY", IDRETRY},
                                                           {"YES", IDYES}, {"NO", IDNO},         {"ABORT", IDABORT},
                                                           {"IGNORE", IDIGNORE}};
    for (const auto& [n, id] : kButtons)
        if (name == n) return id;
    return 0;
}

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
    if (verb == "end" || verb == "status" || verb == "options") {
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
        if (w.size() != 3 || (w[1] != "begin" && w[1] != "end" && w[1] != "abort") || !parse_int(w[2], &n) || n < 0) {
            *error = "job takes begin|end|abort N";
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
// indented lines printed under the call's own line.
class EventPrinter {
public:
    EventPrinter(sim::Autoloader& machine, bool wire) : machine_(machine), wire_(wire) {}

    std::string take() {
        std::string out;
        const auto& entries = machine_.world.kernel().transcript().entries();
        const auto& commands = machine_.robot->received_commands();
        while (entry_ < entries.size() || (wire_ && command_ < commands.size())) {
            const bool take_entry = entry_ < entries.size() && (!wire_ || command_ >= commands.size() ||
                                                                entries[entry_].time_us <= commands[command_].time);
            if (take_entry) {
                const sim::TranscriptEntry& e = entries[entry_++];
                if (e.kind == "window" && (e.text.rfind("msgbox ", 0) == 0 || e.text.rfind("dialog ", 0) == 0))
                    out += "    " + std::to_string(e.time_us / sim::kMs) + " " + with_buttons(e.text) + "\n";
            } else {
                const sim::ReceivedCommand& c = commands[command_++];
                if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") continue;
                out += "    " + c.line() + "\n";
            }
        }
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

    sim::Autoloader& machine_;
    bool wire_;
    size_t entry_ = 0, command_ = 0;
};

std::string quoted(const std::string& s) { return "\"" + sim::Transcript::escape(s) + "\""; }

}  // namespace

int host_command(const std::vector<std::string>& args) {
    std::vector<std::string> flag_args;
    std::string script_path;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0 || script_path.size()) {
            flag_args.push_back(args[i]);
        } else {
            script_path = args[i];
        }
    }
    Flags flags(flag_args);
    if (flags.take("--help")) {
        print_host_help();
        return 0;
    }
    sim::AutoloaderConfig cfg;
    uint64_t seed = 1, drives = 4, lam_corrupt = 0;
    double noise = 0;
    std::string value;
    flags.take_u64("--seed", &seed);
    flags.take_u64("--drives", &drives);
    if (flags.take("--drive-code", &value)) {
        if (value.size() != 1) {
            std::fprintf(stderr, "rovane-sim host: --drive-code takes one character\n");
            return 1;
        }
        cfg.drive_code = value[0];
    }
    if (flags.take("--model", &value)) cfg.robot.model = value;
    if (flags.take("--firmware", &value)) cfg.robot.firmware = value;
    if (flags.take("--port", &value)) cfg.port = value;
    cfg.robot_off = flags.take("--robot-off");
    flags.take_double("--noise", &noise);
    flags.take("--printer", &cfg.disc_printer);
    flags.take("--printer-port", &cfg.disc_printer_port);
    cfg.office_printers = !flags.take("--no-office-printers");
    cfg.laminator = flags.take("--laminator");
    if (flags.take("--lam-firmware", &value)) cfg.laminator_config.firmware = value;
    const bool lam_silent = flags.take("--lam-silent");
    flags.take_u64("--lam-corrupt", &lam_corrupt);
    cfg.label_app = !flags.take("--no-label-app");
    cfg.stored_serials = !flags.take("--no-stored-serials");
    while (flags.take("--setting", &value)) {
        const size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::fprintf(stderr, "rovane-sim host: --setting takes KEY=VALUE, not '%s'\n", value.c_str());
            return 1;
        }
        cfg.settings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    }
    while (flags.take("--name", &value)) cfg.recorder_names.push_back(value);
    const bool wire = flags.take("--wire");
    const bool show_transcript = flags.take("--transcript");
    if (!flags.done("host")) return 1;
    if (script_path.empty()) {
        std::fprintf(stderr, "rovane-sim host: no script (a file, or - for standard input; try --help)\n");
        return 1;
    }
    if (drives != 1 && drives != 2 && drives != 4) {
        std::fprintf(stderr, "rovane-sim host: --drives takes 1, 2 or 4\n");
        return 1;
    }
    if (cfg.port.size() != 4 || cfg.port.compare(0, 3, "COM") != 0 || cfg.port[3] < '1' || cfg.port[3] > '4') {
        std::fprintf(stderr, "rovane-sim host: --port takes COM1 to COM4\n");
        return 1;
    }
    if (lam_corrupt > 1000) {
        std::fprintf(stderr, "rovane-sim host: --lam-corrupt takes 0 to 1000\n");
        return 1;
    }
    cfg.seed = seed;
    cfg.drives = static_cast<int>(drives);
    cfg.robot.line.damage_probability = noise;

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
    if (machine.laminator) {
        if (lam_silent) machine.laminator->go_silent();
        if (lam_corrupt) machine.laminator->corrupt_next(static_cast<int>(lam_corrupt), sim::LamCorruption::BadChecksum);
    }
    // A notice with only an OK button is read and closed; every question needs a rule.
    machine.world.op().set_default_answer(sim::Operator::DefaultAnswer::OkOnly);
    machine.world.load_module();
    EventPrinter events(machine, wire);
    bool ended = false;

    sim::SimThread* host = machine.world.spawn("host", [&] {
        const HWND owner = machine.host_window();
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
                // The host's text, followed by a second NUL and room: the module may look past an
                // embedded NUL, and must find the host's buffer there.
                const std::string list = w.size() == 3 ? w[2] : machine.recorder_list();
                std::vector<char> text(list.begin(), list.end());
                text.resize(std::max<size_t>(text.size() + 2, 8192), '\0');
                char selected[ROVANE_RECORDER_TEXT_SIZE] = {};
                char product[ROVANE_PRODUCT_NAME_SIZE] = {};
                BYTE error_byte = 0xFF;
                const LONG result = Rovane_Init(machine.engine->engine_handle(), owner, w[1].c_str(), "", text.data(),
                                                selected, &error_byte, product);
                std::printf("%llu init %s -> %ld\n", now_ms(), quoted(w[1]).c_str(), static_cast<long>(result));
                std::istringstream lines(selected);
                std::string l;
                while (std::getline(lines, l)) {
                    if (!l.empty() && l.back() == '\r') l.pop_back();
                    std::printf("    recorder %s\n", quoted(l).c_str());
                }
                if (product[0]) std::printf("    product %s error=%u\n", quoted(product).c_str(), static_cast<unsigned>(error_byte));
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
            } else if (verb == "job") {
                long discs = 0;
                parse_int(w[2], &discs);
                const LONG code = w[1] == "begin" ? ROVANE_JOB_BEGIN : w[1] == "end" ? ROVANE_JOB_END : ROVANE_JOB_ABORT;
                const LONG result = Rovane_JobBeginsOrEnds(0, static_cast<DWORD>(discs), code);
                std::printf("%llu job %s %ld -> %ld\n", now_ms(), w[1].c_str(), discs, static_cast<long>(result));
                std::fputs(events.take().c_str(), stdout);
            } else if (verb == "move") {
                long unit = 0, action = 0;
                parse_int(w[1], &unit);
                parse_int(w[2], &action);
                const LONG result = Rovane_PostMoveDisc(static_cast<DWORD>(unit), action, 0, 0);
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
                std::printf("%llu wait %ld -> %lu after %d polls\n", now_ms(), unit, static_cast<unsigned long>(state), polls);
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
    const std::string broken = machine.check_invariants(ended);
    if (!broken.empty()) {
        std::fprintf(stderr, "rovane-sim host: invariants broken:\n%s", broken.c_str());
        return 4;
    }
    return 0;
}

}  // namespace rovane_tool
