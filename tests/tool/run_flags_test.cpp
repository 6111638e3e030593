// run's flags, read back from the command lines made of them: every replay command the swarm
// writes, parsed through run's own command line, gives the very options the swarm drew, field by
// field; and so does a set of options with every field away from its default.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "job_faults.h"
#include "machine_flags.h"
#include "run_command.h"
#include "tool_commands.h"

namespace {

using rovane_tool::JobFaults;
using rovane_tool::MachineFlags;
using rovane_tool::RunOptions;

template <class T>
std::string shown(const T& v) {
    std::ostringstream s;
    s.precision(17);
    s << v;
    return s.str();
}
template <class T>
std::string shown(const std::vector<T>& v) {
    std::string s = "[";
    for (const T& item : v) s += (s.size() > 1 ? "|" : "") + shown(item);
    return s + "]";
}

// Every field of the options that differs, with both values: "machine.noise 0.5 / 0.25".
struct Differences {
    std::vector<std::string> found;
    template <class T>
    void field(const char* name, const T& a, const T& b) {
        if (!(a == b)) found.push_back(std::string(name) + " " + shown(a) + " / " + shown(b));
    }
};

std::vector<std::string> differences(const RunOptions& a, const RunOptions& b) {
    Differences d;
#define FIELD(f) d.field(#f, a.f, b.f)
    FIELD(seed); FIELD(discs); FIELD(record_seconds); FIELD(fail_rate); FIELD(answers); FIELD(print);
    FIELD(laminate); FIELD(record_print); FIELD(print_seconds); FIELD(json); FIELD(wire); FIELD(transcript_path);
    FIELD(budget_hours); FIELD(timeline_path); FIELD(module_log_path);
    FIELD(machine.drives); FIELD(machine.drive_code); FIELD(machine.model); FIELD(machine.firmware);
    FIELD(machine.port); FIELD(machine.robot_off); FIELD(machine.noise); FIELD(machine.printer);
    FIELD(machine.printer_port); FIELD(machine.printer_silent_at); FIELD(machine.printer_disc_left);
    FIELD(machine.no_office_printers); FIELD(machine.laminator); FIELD(machine.lam_firmware);
    FIELD(machine.lam_silent); FIELD(machine.lam_corrupt); FIELD(machine.lam_jam); FIELD(machine.lam_falls);
    FIELD(machine.lam_disc_left); FIELD(machine.no_label_app); FIELD(machine.no_stored_serials);
    FIELD(machine.settings); FIELD(machine.names); FIELD(machine.mispick); FIELD(machine.empty_bins);
    FIELD(machine.tray_fail); FIELD(machine.fail_call); FIELD(machine.robot_errors_on); FIELD(machine.pauses_on);
    FIELD(machine.print_fail); FIELD(machine.speed);
    FIELD(faults.robot_errors); FIELD(faults.pauses); FIELD(faults.print_fail); FIELD(faults.think);
    FIELD(faults.abort_at); FIELD(faults.end_at);
#undef FIELD
    return d.found;
}

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v) s += "\n  " + x;
    return s;
}

uint64_t first_seed() {
    const char* env = std::getenv("ROVANE_SEED");
    const uint64_t s = env ? std::strtoull(env, nullptr, 0) : 1;
    ::testing::Test::RecordProperty("seed", std::to_string(s));
    std::printf("first swarm seed %llu (rerun with ROVANE_SEED=%llu)\n", static_cast<unsigned long long>(s),
                static_cast<unsigned long long>(s));
    return s;
}

TEST(RunFlags, EverySwarmReplayCommandReadsBackAsTheOptionsItWasMadeOf) {
    const uint64_t first = first_seed();
    int with_fail_call = 0, with_answers = 0, with_pauses = 0;
    for (uint64_t seed = first; seed < first + 3000; ++seed) {
        const RunOptions drawn = rovane_tool::draw_swarm_run(seed);
        const std::string line = rovane_tool::run_command_line(drawn);
        RunOptions back;
        std::string error;
        ASSERT_TRUE(rovane_tool::parse_run_command_line(line, &back, &error)) << "seed " << seed << ": " << error << "\n  " << line;
        const std::vector<std::string> d = differences(drawn, back);
        ASSERT_TRUE(d.empty()) << "seed " << seed << ": " << line << joined(d);
        with_fail_call += !drawn.machine.fail_call.empty();
        with_answers += !drawn.answers.empty();
        with_pauses += drawn.faults.pauses.size() > 1;
    }
    // The draws reach the flags that take a value of their own kind: --fail-call, a quoted
    // --answer, a repeated --pause-at.
    EXPECT_GT(with_fail_call, 300);
    EXPECT_GT(with_answers, 100);
    EXPECT_GT(with_pauses, 100);
}

TEST(RunFlags, OptionsWithEveryFieldAwayFromItsDefaultReadBackTheSame) {
    RunOptions o;
    o.seed = 18446744073709551615ULL;
    o.discs = 9999;
    o.record_seconds = 1234.5678901234;  // more digits than six
    o.fail_rate = 0.1 + 0.2;             // 0.30000000000000004
    o.answers = {"it's here, at last=OK", "not picked=ABORTJOB"};
    o.print = "tessik-6";
    o.laminate = true;
    o.record_print = 0;
    o.print_seconds = 12.5;
    o.json = true;
    o.wire = true;
    o.transcript_path = "/tmp/a b/t.txt";
    o.budget_hours = 0.25;
    o.timeline_path = "t.html";
    o.module_log_path = "m.dbg";
    MachineFlags& m = o.machine;
    m.drives = 2;
    m.drive_code = "C";
    m.model = "NQ";
    m.firmware = "2.01 beta";
    m.port = "COM3";
    m.robot_off = true;
    m.noise = 1e-5;
    m.printer = "Pellan IV";
    m.printer_port = "FILE:";
    m.printer_silent_at = 100000.25;
    m.printer_disc_left = true;
    m.no_office_printers = true;
    m.laminator = true;
    m.lam_firmware = "LAM \"3\"";
    m.lam_silent = true;
    m.lam_corrupt = 3;
    m.lam_jam = 2;
    m.lam_falls = 1;
    m.lam_disc_left = true;
    m.no_label_app = true;
    m.no_stored_serials = true;
    m.settings = {"Printer=Pellan IV", "Com=COM3"};
    m.names = {"KESTREL DVD-RW KR-2040", "Drive $B"};
    m.mispick = 0.125;
    m.empty_bins = {"4", "1"};
    m.tray_fail = 7;
    m.fail_call = "file-write:12+";
    JobFaults& f = o.faults;
    f.robot_errors = {"A@1.5", "D@99999.125"};
    f.pauses = {0.1, 172800};
    f.print_fail = 3;
    f.think = 0;
    f.abort_at = 0.001;
    f.end_at = 5;
    ASSERT_EQ(differences(o, o).size(), 0u);
    EXPECT_EQ(differences(o, RunOptions()).size(), 48u) << "every field run has a flag for is away from its default";

    const std::string line = rovane_tool::run_command_line(o);
    RunOptions back;
    std::string error;
    ASSERT_TRUE(rovane_tool::parse_run_command_line(line, &back, &error)) << error << "\n  " << line;
    const std::vector<std::string> d = differences(o, back);
    EXPECT_TRUE(d.empty()) << line << joined(d);
    EXPECT_EQ(rovane_tool::run_command_line(RunOptions()), "rovane-sim run") << "the defaults need no flag";
}

TEST(RunFlags, ALineRunWouldRefuseIsRefused) {
    RunOptions back;
    std::string error;
    EXPECT_FALSE(rovane_tool::parse_run_command_line("rovane-sim run --discs 0", &back, &error));
    EXPECT_NE(error.find("--discs"), std::string::npos) << error;
    EXPECT_FALSE(rovane_tool::parse_run_command_line("rovane-sim run --fail-call tray:0", &back, &error));
    EXPECT_FALSE(rovane_tool::parse_run_command_line("rovane-sim run --answer 'open=OK", &back, &error));
    EXPECT_FALSE(rovane_tool::parse_run_command_line("rovane-sim swarm --runs 3", &back, &error));
}

}  // namespace
