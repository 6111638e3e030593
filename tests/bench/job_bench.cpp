// A whole recording job through the module's exports, as a host runs it: four recorders, discs
// recorded for four minutes each, Rovane_CheckMoveDisc polled every 500 ms. First 100 discs, then
// 1,000, each in a process of its own (the module's state lives as long as the process). Prints for
// each the virtual time, the wall time, their ratio and the peak memory of that process, which
// must not grow with the job: the world keeps only a recent tail of its logs.
//
//   job_bench              both jobs
//   job_bench DISCS...     jobs of these sizes
//   job_bench --here DISCS one job in this process (for a memory profiler)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "harness/heap_pages.h"
#include "harness/recording_host.h"
#include "harness/verdict.h"
#include "world/operator.h"

namespace {

// What a job's process reports to the parent.
struct JobFigures {
    int ok = 0;                // the world finished its run and the invariants hold
    double virtual_s = 0;
    double wall_s = 0;
    unsigned long long transcript_entries = 0;
    char problem[512] = {};
};

JobFigures run_job(int discs) {
    JobFigures f;
    sim::AutoloaderConfig cfg;
    cfg.seed = 1;
    cfg.drives = 4;
    sim::Autoloader machine(cfg);
    // The default operator answers start-up (the preselected printer kept, the laminator's
    // question cancelled: there is none), refills the input bins and takes the finished discs away.
    sim::install_default_operator(machine);

    sim::RecordingHostConfig hc;
    hc.discs = discs;
    hc.record_time = 4 * sim::kMinute;
    sim::RecordingHost host(machine, hc);

    const auto wall_start = std::chrono::steady_clock::now();
    machine.world.load_module();
    host.start();
    sim::RunResult r = machine.world.run();
    if (r.ok()) r = machine.settle();
    f.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    f.virtual_s = static_cast<double>(machine.world.kernel().now()) / sim::kSecond;
    f.transcript_entries = machine.world.kernel().transcript().count();

    const sim::RecordingHostResult& hr = host.result();
    std::string problem;
    if (!r.ok()) problem = r.report;
    if (problem.empty()) problem = machine.check_invariants(hr.ended);
    // The job's own checks, as rovane-sim run judges a job: every disc in an output bin or rejected.
    if (problem.empty() && hr.job_aborted) problem = "the job was aborted";
    if (problem.empty()) {
        sim::JobFacts facts;
        facts.discs = discs;
        facts.ended = hr.ended;
        facts.end_took = hr.end_took;
        problem = sim::job_checks(sim::count_discs(machine, nullptr, 0, false), facts);
    }
    f.ok = problem.empty();
    std::snprintf(f.problem, sizeof f.problem, "%s", problem.c_str());
    return f;
}

// Runs the job in a fresh process (this program again, with --child): its peak resident memory
// comes from the kernel's account of that process alone, untouched by anything this one did.
bool run_in_child(const char* self, int discs, JobFigures* figures, long* max_rss_kb) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const std::string n = std::to_string(discs);
        execl(self, self, "--child", fd.c_str(), n.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    size_t got = 0;
    char* p = reinterpret_cast<char*>(figures);
    for (ssize_t n; got < sizeof *figures && (n = read(fds[0], p + got, sizeof *figures - got)) > 0;)
        got += static_cast<size_t>(n);
    close(fds[0]);
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    *max_rss_kb = usage.ru_maxrss;  // kilobytes on Linux
    return got == sizeof *figures && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    sim::use_huge_heap_pages();
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        const JobFigures f = run_job(std::atoi(argv[3]));
        const int fd = std::atoi(argv[2]);
        return write(fd, &f, sizeof f) == static_cast<ssize_t>(sizeof f) ? 0 : 1;
    }
    std::vector<int> sizes;
    const bool here = argc > 1 && std::strcmp(argv[1], "--here") == 0;
    for (int i = here ? 2 : 1; i < argc; ++i) {
        const int n = std::atoi(argv[i]);
        if (n <= 0) {
            std::fprintf(stderr, "job_bench: disc counts are positive numbers, not '%s'\n", argv[i]);
            return 1;
        }
        sizes.push_back(n);
    }
    if (sizes.empty()) sizes = {100, 1000};
    if (here) {
        const JobFigures f = run_job(sizes[0]);
        std::printf("%d discs: %.0f virtual s in %.3f wall s%s%s\n", sizes[0], f.virtual_s, f.wall_s, f.ok ? "" : ": ",
                    f.problem);
        return f.ok ? 0 : 1;
    }

    int failures = 0;
    long first_rss = 0;
    for (int discs : sizes) {
        JobFigures f;
        long rss = 0;
        if (!run_in_child("/proc/self/exe", discs, &f, &rss)) {
            std::printf("%5d discs: the job's process did not finish\n", discs);
            ++failures;
            continue;
        }
        if (!first_rss) first_rss = rss;
        std::printf("%5d discs: %9.0f virtual s (%5.2f h) in %7.3f wall s, ratio %6.0f : 1, peak memory %6ld KB "
                    "(%+.1f %%), %llu transcript entries\n",
                    discs, f.virtual_s, f.virtual_s / 3600, f.wall_s, f.wall_s > 0 ? f.virtual_s / f.wall_s : 0.0, rss,
                    100.0 * static_cast<double>(rss - first_rss) / static_cast<double>(first_rss),
                    f.transcript_entries);
        if (!f.ok) {
            std::printf("       the job went wrong: %s\n", f.problem);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
