#include "harness/verdict.h"

#include <cstring>

#include "harness/autoloader.h"

namespace sim {

const char* verdict_text(Verdict v) {
    switch (v) {
        case Verdict::Completed: return "completed";
        case Verdict::UsageError: return "usage error";
        case Verdict::Aborted: return "aborted";
        case Verdict::WorldStopped: return "world stopped";
        case Verdict::InvariantBroken: return "invariant broken";
    }
    return "?";
}

Verdict verdict_of_exit_code(int code) {
    return code >= 0 && code <= 4 ? static_cast<Verdict>(code) : Verdict::WorldStopped;
}

Verdict verdict_of(bool world_ok, const std::string& broken, bool aborted) {
    if (!world_ok) return Verdict::WorldStopped;
    if (!broken.empty()) return Verdict::InvariantBroken;
    return aborted ? Verdict::Aborted : Verdict::Completed;
}

const char* unprinted_text(Unprinted why) {
    switch (why) {
        case Unprinted::PrintFailed: return "print failed";
        case Unprinted::WaitTimedOut: return "no print came, the wait for it timed out";
        case Unprinted::JobAborted: return "job aborted before it reached the printer";
        case Unprinted::Unaccounted: return "unaccounted";
    }
    return "?";
}

int DiscCount::unprinted_for(Unprinted why) const {
    const auto it = unprinted_why.find(why);
    return it == unprinted_why.end() ? 0 : it->second;
}

namespace {

// A recorded disc of an output stack, whether it is still there or the operator lifted it off:
// counted in its stack, and checked for its print and its lamination.
void count_output_disc(DiscCount& c, const std::string& stack, const Disc& disc, const DiscPrinter* printer,
                       const Laminator* lam, int* timed_out_waits, bool job_aborted) {
    const DiscId id = disc.id;
    ++c.output_bins[stack];
    ++c.in_output_bins;
    if (disc.prints > 1) ++c.printed_twice;
    if (disc.prints == 0) {
        ++c.unprinted;
        Unprinted why = Unprinted::Unaccounted;
        if (printer && printer->failed_print_count(id)) {
            why = Unprinted::PrintFailed;
        } else if (printer && printer->had_on_tray(id) && *timed_out_waits > 0) {
            --*timed_out_waits;
            why = Unprinted::WaitTimedOut;
        } else if (job_aborted && !(printer && printer->had_on_tray(id))) {
            why = Unprinted::JobAborted;
        }
        c.unprinted_discs.emplace_back(id, why);
        ++c.unprinted_why[why];
    }
    if (lam && lam->lamination_count(id) != 1) ++c.not_laminated_once;
}

// The discs the world left in the machine before the job: rejected, or named where they are.
void count_found_discs(DiscCount& c, const Autoloader& machine) {
    const Robot& robot = *machine.robot;
    for (const Autoloader::FoundDisc& f : machine.found_discs()) {
        ++c.found;
        const std::string place = robot.place_of(f.id);
        if (place == "G" || place == "H" || (place == "removed" && f.taken_from && std::strchr("GH", f.taken_from))) {
            ++c.found_rejected;
        } else {
            c.found_elsewhere += (c.found_elsewhere.empty() ? "" : ", ") + std::string("disc ") + std::to_string(f.id) +
                                 " at " + place;
            if (place.size() == 1 && std::strchr("ABCDSE", place[0])) --c.left_in_machine;  // counted apart
            if (place == "picker") --c.left_in_machine;
        }
    }
}

}  // namespace

DiscCount count_discs(const Autoloader& machine, const Laminator* lam, int timed_out_waits, bool job_aborted) {
    const Robot& robot = *machine.robot;
    const DiscPrinter* printer = machine.printer.get();
    DiscCount c;
    for (const Autoloader::TakenDisc& t : machine.taken_discs()) {
        if (!std::strchr("12345", t.place)) continue;
        const std::string stack(1, t.place);
        const auto disc = robot.disc(t.id);
        if (disc && disc->recorded) {
            count_output_disc(c, stack, *disc, printer, lam, &timed_out_waits, job_aborted);
        } else {
            ++c.blank_taken[stack];
            ++c.blank_taken_back;
        }
    }
    for (const char* stack : {"1", "2", "3", "4", "5"})
        for (DiscId id : robot.discs_at(stack)) {
            const auto disc = robot.disc(id);
            if (disc && disc->recorded) count_output_disc(c, stack, *disc, printer, lam, &timed_out_waits, job_aborted);
        }
    c.at_g = static_cast<int>(robot.count_at("G"));
    c.at_h = static_cast<int>(robot.count_at("H"));
    const std::map<char, size_t>& taken = machine.taken_by_operator();
    for (char reject : {'G', 'H'})
        if (taken.count(reject)) c.removed += static_cast<int>(taken.at(reject));
    c.lost = static_cast<int>(robot.lost().size());
    for (const char* place : {"A", "B", "C", "D", "picker", "S", "E"})
        c.left_in_machine += static_cast<int>(robot.count_at(place));
    count_found_discs(c, machine);
    return c;
}

namespace {

// The longest Rovane_End may take: ten one-second waits for the module's threads, then they are
// ended; the reset is written without waiting for a reply.
constexpr Micros kEndBound = 12 * kSecond;
// With the laminator in use it first brings the laminator's tray out, which waits for a
// lamination in progress to finish.
constexpr Micros kEndBoundLaminating = kEndBound + 45 * kSecond;

// Every disc on the output stacks of a printing job, aborted or not, was printed at most once,
// and one that was not printed is accounted for: its print failed (the printer stopped with its
// error or fell silent; the print is not made again), or no print came and the operator went on
// when the module's wait for it timed out, or the job was aborted before the disc reached the
// printer.
std::string print_checks(const DiscCount& c) {
    if (!c.printed_twice && !c.unprinted_why.count(Unprinted::Unaccounted)) return "";
    std::string which;
    for (const auto& [id, why] : c.unprinted_discs)
        if (why == Unprinted::Unaccounted) which += (which.empty() ? "" : ", ") + std::to_string(id);
    std::string broken = c.printed_twice ? std::to_string(c.printed_twice) + " discs on the output stacks printed twice\n" : "";
    if (!which.empty()) broken += "discs on the output stacks unprinted with no failed print, timed-out wait or abort: " + which + "\n";
    return broken;
}

std::string first_failed_check(const DiscCount& c, const JobFacts& f) {
    // A job that ran to its end has every one of its discs in an output bin or rejected.
    if (!f.aborted && (c.finished() != f.discs || c.left_in_machine))
        return "not every disc is accounted for: " + std::to_string(c.in_output_bins) + " in output bins, " +
               std::to_string(c.rejected()) + " rejected, " + std::to_string(c.left_in_machine) +
               " left in the machine of " + std::to_string(f.discs) + "\n";
    // A disc the world left in the machine before the job is taken out to a reject position by
    // the job's begin.
    if (!f.aborted && !c.found_elsewhere.empty())
        return "a disc found in the machine at the start was not rejected: " + c.found_elsewhere + "\n";
    if (f.printing) {
        const std::string broken = print_checks(c);
        if (!broken.empty()) return broken;
    }
    // A laminating job that ran to its end has laminated every disc on the output stacks once,
    // and left the discs of bin "1" where they were.
    if (f.laminating && !f.aborted && c.not_laminated_once)
        return std::to_string(c.not_laminated_once) + " discs on the output stacks not laminated exactly once\n";
    // Rovane_End waits ten seconds at most for the module's threads, then ends them.
    if (f.ended && f.end_took > (f.laminate ? kEndBoundLaminating : kEndBound))
        return "Rovane_End took " + std::to_string(f.end_took / kMs) + " ms\n";
    if (f.laminating && f.bin1_left != f.bin1_start)
        return "input bin 1 was picked from: " + std::to_string(f.bin1_start - f.bin1_left) + " discs gone\n";
    return "";
}

}  // namespace

std::string job_checks(const DiscCount& c, const JobFacts& f) {
    const std::string broken = first_failed_check(c, f);
    return broken.empty() ? "" : broken + "seed " + std::to_string(f.seed) + " replays this run\n";
}

std::string invariants_held(const DiscCount& c, const JobFacts& f) {
    std::string text = "no disc lost or duplicated";
    if (!f.aborted) text += ", every disc of the job in an output bin or rejected";
    if (c.found && !f.aborted) text += c.found == 1 ? ", the disc found in the machine rejected" : ", the discs found in the machine rejected";
    if (f.printing) {
        text += ", no disc printed twice";
        if (!c.unprinted) {
            text += ", every disc on the output stacks printed";
        } else {
            text += ", " + std::to_string(c.unprinted) + " on the output stacks unprinted, each accounted for (";
            bool first = true;
            for (const auto& [why, n] : c.unprinted_why) {
                text += std::string(first ? "" : ", ") + unprinted_text(why) + " " + std::to_string(n);
                first = false;
            }
            text += ")";
        }
    }
    if (f.laminating && !f.aborted) text += ", every disc on the output stacks laminated once";
    return text + ", no thread of the module left running";
}

}  // namespace sim
