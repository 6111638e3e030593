#include "logview/log_compare.h"

#include <algorithm>
#include <cstdlib>

namespace logview {

namespace {

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

// The move names the module logs after queueing a PostMoveDisc, and the action each stands for.
long move_action_named(const std::string& t) {
    if (t == "Load") return 100;
    if (t == "Load for Stream") return 101;
    if (t == "Unload") return 200;
    if (t == "Unload (no error)") return 201;
    if (t == "Reject") return 300;
    if (t == "Reject (no error)") return 301;
    return -1;
}

bool key_line(const std::string& t, std::string* kind, std::string* key) {
    static const char* const kHost[] = {"********************* Rovane", "JobBeginsOrEnds ", "** PostMoveDisc ",
                                        "## PostMoveAndPrint ", "File1=", "**&&** CheckPrinting returning", "return ",
                                        "u=", "LastDisc = TRUE"};
    static const char* const kPrinter[] = {"Printer chosen: ", "Printer=", "Sending ", "File=", "(__PRINTING STARTED__)",
                                           "===COMPLETED PRINTING===", "===COMPLETED LAMINATING===", "SendLaminatorCMD",
                                           "Laminate with ", "Moving Laminator Tray"};
    static const char* const kErrors[] = {"ERROR", "WARNING", "FATAL", "INPUT EMPTY", "Error: Not picked",
                                          "No warning when empty", "NOTE: PortRead() no response"};
    static const char* const kMessages[] = {"Abort button pressed", "->AbortJob()", "#$?%", "!!!Dropping",
                                            "More than 60 seconds", "More than 30 seconds", "Lam tray out but no disc",
                                            "Reject position full", "User ", "Options accepted: ", "Mispick from Recorder",
                                            "No Disc found in Recorder", "SendQueue STOPPED by user.", "Can't talk to laminator"};
    auto any = [&t](const char* const* list, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (starts_with(t, list[i])) return true;
        return false;
    };
    if (starts_with(t, ">>Sent CMD = ")) {
        *kind = "robot";
    } else if (any(kHost, sizeof kHost / sizeof *kHost) || move_action_named(t) >= 0) {
        if (starts_with(t, "u=") && t.find(" dwUnit=") == std::string::npos) return false;
        *kind = "host";
    } else if (any(kPrinter, sizeof kPrinter / sizeof *kPrinter)) {
        *kind = "printer";
    } else if (any(kErrors, sizeof kErrors / sizeof *kErrors)) {
        *kind = "error";
    } else if (any(kMessages, sizeof kMessages / sizeof *kMessages)) {
        *kind = "message";
    } else {
        return false;
    }
    *key = t;
    // A counter in the line says nothing of what happened: "Laminate with 498 (3361500) ...".
    if (starts_with(t, "Laminate with ")) *key = "Laminate with";
    while (!key->empty() && (key->back() == ' ' || key->back() == '\r')) key->pop_back();
    return true;
}

std::vector<KeyLine> key_lines(const std::vector<LogLine>& lines) {
    std::vector<KeyLine> out;
    std::string last_poll;  // the answer of the last CheckPrinting poll taken
    for (const LogLine& l : lines) {
        KeyLine k;
        if (!key_line(l.text, &k.kind, &k.key)) continue;
        if (starts_with(l.text, "**&&** CheckPrinting returning")) {
            // The host polls twice a second while a print may be under way; how many polls fall
            // between two robot commands is the host's timing, not the module's doing. A poll
            // counts when its answer changes (the first, "ABORT", back to "NOT in process").
            if (l.text == last_poll) continue;
            last_poll = l.text;
        }
        k.number = l.number;
        k.ms = l.ms;
        k.text = l.text;
        out.push_back(std::move(k));
    }
    return out;
}

namespace {

constexpr size_t kResyncWindow = 60;  // lines looked ahead on either side to get back in step
constexpr size_t kResyncRun = 3;      // lines that must agree there

bool agree(const std::vector<KeyLine>& a, size_t i, const std::vector<KeyLine>& b, size_t j) {
    for (size_t k = 0; k < kResyncRun; ++k) {
        if (i + k >= a.size() || j + k >= b.size()) return i + k >= a.size() && j + k >= b.size() && k > 0;
        if (a[i + k].key != b[j + k].key) return false;
    }
    return true;
}

std::string divergence_reason(const std::vector<KeyLine>& o, size_t i, const std::vector<KeyLine>& r, size_t j) {
    if (i >= o.size()) return "the replay goes on: " + r[j].kind + " line not in the original";
    if (j >= r.size()) return "the replay ends early: " + o[i].kind + " line missing";
    if (o[i].kind == r[j].kind) return o[i].kind == "robot" ? "robot command differs" : o[i].kind + " line differs";
    return o[i].kind + " line where the replay has a " + r[j].kind + " line";
}

// What the first divergence comes from, as far as the two lines there tell: the faults the
// replay cannot bring back, named, and "other" for the rest.
std::string divergence_cause(const std::vector<KeyLine>& o, size_t i, const std::vector<KeyLine>& r, size_t j) {
    auto text = [](const std::vector<KeyLine>& v, size_t k) { return k < v.size() ? v[k].text : std::string(); };
    auto kind = [](const std::vector<KeyLine>& v, size_t k) { return k < v.size() ? v[k].kind : std::string(); };
    const std::string a = text(o, i), b = text(r, j);
    auto either = [&](const char* part) { return a.find(part) != std::string::npos || b.find(part) != std::string::npos; };
    // Checked on the original's line first: what it shows happened is what the replay lacks.
    auto in_original = [&](const char* part) { return a.find(part) != std::string::npos; };
    if (in_original("CHECKSUM ERROR") || in_original("no response in GetSystemStatus") || in_original(" bytes eaten"))
        return "damaged robot reply (line noise: put back at about the same time, not always on the same poll)";
    if (in_original("INVALID_CMD"))
        return "robot error D standing for another time (the operator clears it when they come to the robot)";
    if (in_original("INPUT EMPTY")) return "input bin found empty";
    if (in_original("No Disc found in Recorder") || in_original("Mispick from Recorder")) return "recorder tray fault";
    if (either("PRINTER_ERROR")) return "printer error";
    if (either("LAMERR") || either("aminator")) return "laminator fault";
    if (either("ABORT") || either("AbortJob")) return "job aborted (host or operator)";
    if (either("SYS_ERROR") || either("MOVEMENT ERROR") || either("NOT_PICKED")) return "robot error";
    const bool poll_a = a.find("CheckPrinting") != std::string::npos, poll_b = b.find("CheckPrinting") != std::string::npos;
    if ((poll_a && kind(r, j) == "robot") || (poll_b && kind(o, i) == "robot"))
        return "a CheckPrinting poll and a robot command in another order";
    if (kind(o, i) == "robot" && kind(r, j) == "robot") return "robot command differs";
    return "other: " + divergence_reason(o, i, r, j);
}

}  // namespace

Comparison compare_key_lines(const std::vector<KeyLine>& o, const std::vector<KeyLine>& r, int64_t tolerance_ms) {
    Comparison c;
    c.compared = o.size();
    c.replay_lines = r.size();
    const int64_t o_base = o.empty() ? 0 : o.front().ms, r_base = r.empty() ? 0 : r.front().ms;
    size_t i = 0, j = 0;
    auto diverge = [&](size_t a, size_t b) {
        if (c.diverged) return;
        c.diverged = true;
        c.at_original = a;
        c.at_replay = b;
        c.reason = divergence_reason(o, a, r, b);
        c.cause = divergence_cause(o, a, r, b);
    };
    while (i < o.size() && j < r.size()) {
        if (o[i].key == r[j].key) {
            ++c.reproduced;
            if (o[i].kind == "robot") ++c.robot_reproduced;
            if (o[i].kind == "host") {
                const int64_t drift = std::llabs((o[i].ms - o_base) - (r[j].ms - r_base));
                c.max_drift_ms = std::max<int64_t>(c.max_drift_ms, drift);
                if (drift > tolerance_ms && c.off_time++ == 0) c.first_off_time = i;
            }
            ++i;
            ++j;
            continue;
        }
        // A line of the host's calls that only one log lacks, the lines after it in step: the
        // module's log writer lost it (a line that meets another thread's line being written is
        // dropped), which says nothing of what the machine did.
        if (o[i].kind == "host" && agree(o, i + 1, r, j)) {
            ++c.lost_in_replay;
            ++i;
            continue;
        }
        if (r[j].kind == "host" && agree(o, i, r, j + 1)) {
            ++c.lost_in_original;
            ++j;
            continue;
        }
        diverge(i, j);
        // Back in step at the nearest place where a few lines agree again (the fewest lines
        // skipped on both sides together).
        bool found = false;
        for (size_t d = 1; d <= 2 * kResyncWindow && !found; ++d)
            for (size_t a = d > kResyncWindow ? d - kResyncWindow : 0; a <= std::min(d, kResyncWindow) && !found; ++a) {
                const size_t b = d - a;
                if (i + a <= o.size() && j + b <= r.size() && agree(o, i + a, r, j + b)) {
                    i += a;
                    j += b;
                    found = true;
                }
            }
        if (!found) {
            ++i;
            ++j;
        }
    }
    if (i < o.size() || j < r.size()) diverge(i, j);
    std::vector<const std::string*> ro, rr;
    for (const KeyLine& k : o)
        if (k.kind == "robot") ro.push_back(&k.key);
    for (const KeyLine& k : r)
        if (k.kind == "robot") rr.push_back(&k.key);
    c.robot_commands = ro.size();
    c.robot_same = ro.size() == rr.size() &&
                   std::equal(ro.begin(), ro.end(), rr.begin(), [](const std::string* a, const std::string* b) { return *a == *b; });
    return c;
}

}  // namespace logview
