// Recording jobs in child processes: see child_runs.h.
#include "child_runs.h"
#include "run_command.h"
#include "world/module_data.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace rovane_tool {

namespace {

// A run's result as one line: "EXIT\tCALLS\tFIRED\tHASH\tKIND=N;KIND=N;...\tOUTCOME\tWHAT BROKE" (the
// failing calls made and fired, the transcript's hash, the faults that fired by kind), without
// its line end.
std::string result_line(const RunOutcome& out) {
    // What broke, in its first line (the world's report goes on with every thread and the
    // transcript's last events: the replay command shows those).
    std::string broken = out.broken.substr(0, out.broken.find('\n'));
    for (char& ch : broken)
        if (ch == '\t') ch = ' ';
    if (broken.size() > 1000) broken.resize(1000);   // a bounded line, whatever the report
    std::string kinds;
    for (const auto& [kind, n] : out.fired) kinds += kind + "=" + std::to_string(n) + ";";
    return std::to_string(out.exit_code) + "\t" + std::to_string(out.fault_calls) + "\t" +
           std::to_string(out.faults_fired) + "\t" + out.transcript_hash + "\t" + kinds + "\t" + out.outcome + "\t" + broken;
}

// Runs one job as the swarm's and sweep's runs are run: output thrown away (by the caller), only
// the last 100 transcript entries held, killed by SIGALRM after `wall_seconds` (0: never).
RunOutcome run_one(const RunOptions& o, unsigned wall_seconds) {
    if (wall_seconds) alarm(wall_seconds);
    RunOutcome out;
    RunOptions held = o;
    held.transcript_held = 100;
    out.exit_code = run_recording_job(held, &out);
    if (wall_seconds) alarm(0);
    // The tool's own check of a run whose process dies: with ROVANE_SIM_KILL_SEED=N in the
    // environment, the process that ran seed N's job is killed (SIGKILL) before it writes the
    // result, as a crash in the world would end it.
    if (const char* kill_seed = std::getenv("ROVANE_SIM_KILL_SEED"))
        if (std::strtoull(kill_seed, nullptr, 10) == o.seed) raise(SIGKILL);
    return out;
}

void silence_output() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// In the child: runs the job, writes its result line to `fd` and exits without running the
// parent's destructors.
[[noreturn]] void run_child(const RunOptions& o, int fd, unsigned wall_seconds) {
    silence_output();
    const std::string line = result_line(run_one(o, wall_seconds));
    write_all(fd, line.data(), line.size());
    close(fd);
    _exit(0);
}

// A run's outcome from its result line; false when the text is not one.
bool parse_result(const std::string& text, RunOutcome* out) {
    size_t tabs[6];
    size_t at = 0;
    for (int found = 0; found < 6; ++found) {
        const size_t tab = text.find('\t', at);
        if (tab == std::string::npos) return false;
        tabs[found] = tab;
        at = tab + 1;
    }
    out->exit_code = std::atoi(text.substr(0, tabs[0]).c_str());
    out->fault_calls = std::strtoull(text.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1).c_str(), nullptr, 10);
    out->faults_fired = std::strtoull(text.substr(tabs[1] + 1, tabs[2] - tabs[1] - 1).c_str(), nullptr, 10);
    out->transcript_hash = text.substr(tabs[2] + 1, tabs[3] - tabs[2] - 1);
    const std::string kinds = text.substr(tabs[3] + 1, tabs[4] - tabs[3] - 1);
    for (size_t p = 0; p < kinds.size();) {
        size_t semi = kinds.find(';', p);
        if (semi == std::string::npos) semi = kinds.size();
        const std::string item = kinds.substr(p, semi - p);
        const size_t eq = item.rfind('=');
        if (eq != std::string::npos) out->fired[item.substr(0, eq)] += std::atoi(item.c_str() + eq + 1);
        p = semi + 1;
    }
    out->outcome = text.substr(tabs[4] + 1, tabs[5] - tabs[4] - 1);
    out->broken = text.substr(tabs[5] + 1);
    return true;
}

// The outcome of a run whose process died before it wrote its result, from the way it died.
RunOutcome died(int status, unsigned wall_seconds) {
    RunOutcome out;
    out.exit_code = sim::exit_code(sim::Verdict::WorldStopped);
    out.outcome = "crashed";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        out.broken = "still running after " + std::to_string(wall_seconds) + " s of wall time: killed";
    else
        out.broken = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                         : "exited " + std::to_string(WEXITSTATUS(status)) + " without a result";
    return out;
}

// Reads what a child wrote; a child that died before writing gets the way it died.
RunOutcome read_child(int fd, int status, unsigned wall_seconds) {
    std::string text;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fd);
    RunOutcome out;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && parse_result(text, &out)) return out;
    return died(status, wall_seconds);
}

// A runner process: reads job indices (one size_t each) from `orders`, runs each job and writes its
// result line, ended by '\n', to `results`; exits when `orders` ends.
[[noreturn]] void serve_runs(int orders, int results, const std::function<RunOptions(size_t)>& job,
                             unsigned wall_seconds) {
    silence_output();
    for (;;) {
        size_t index = 0;
        size_t got = 0;
        while (got < sizeof index) {
            const ssize_t n = read(orders, reinterpret_cast<char*>(&index) + got, sizeof index - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(0);
            got += static_cast<size_t>(n);
        }
        const std::string line = result_line(run_one(job(index), wall_seconds)) + "\n";
        if (!write_all(results, line.data(), line.size())) _exit(0);
    }
}

// The parent's view of one runner process.
struct Runner {
    pid_t pid = -1;          // -1: none running
    int orders = -1;         // write end: the next job's index
    int results = -1;        // read end: result lines
    std::string pending;     // a result line read in part
    bool busy = false;
    size_t index = 0;        // the job it runs, when busy
};

}  // namespace

int run_in_children(const char* command, const ChildRunLimits& limits, const std::function<bool(RunOptions*)>& next,
                    const std::function<void(size_t, const RunOutcome&)>& done) {
    const size_t at_once = limits.at_once ? limits.at_once : 1;
    std::map<pid_t, std::pair<size_t, int>> children;  // pid -> job index, read end of its pipe
    size_t started = 0;
    bool more = true;
    std::fflush(stdout);
    std::fflush(stderr);
    while (more || !children.empty()) {
        while (more && children.size() < at_once) {
            RunOptions job;
            if (!next(&job)) {
                more = false;
                break;
            }
            int fds[2];
            if (pipe(fds) != 0) {
                std::fprintf(stderr, "rovane-sim %s: pipe: ", command);
                std::perror("");
                return 1;
            }
            const pid_t pid = fork();
            if (pid < 0) {
                std::fprintf(stderr, "rovane-sim %s: fork: ", command);
                std::perror("");
                return 1;
            }
            if (pid == 0) {
                close(fds[0]);
                run_child(job, fds[1], limits.wall_seconds);
            }
            close(fds[1]);
            children[pid] = {started++, fds[0]};
        }
        if (children.empty()) break;
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) break;
        const auto it = children.find(pid);
        if (it == children.end()) continue;
        const size_t index = it->second.first;
        const RunOutcome outcome = read_child(it->second.second, status, limits.wall_seconds);
        children.erase(it);
        done(index, outcome);
        std::fflush(stdout);
    }
    return 0;
}

int run_in_runners(const char* command, const ChildRunLimits& limits, const std::function<bool(size_t)>& more,
                   const std::function<RunOptions(size_t)>& job,
                   const std::function<void(size_t, const RunOutcome&)>& done) {
    // Without the module's data renewed at each load, each run needs a process of its own; so it
    // gets when ROVANE_SIM_PROCESS_PER_RUN=1 asks, to compare the two.
    const char* per_run = std::getenv("ROVANE_SIM_PROCESS_PER_RUN");
    if (!sim::module_data_renewable() || (per_run && std::strcmp(per_run, "1") == 0)) {
        size_t next = 0;
        return run_in_children(
            command, limits,
            [&](RunOptions* o) {
                if (!more(next)) return false;
                *o = job(next++);
                return true;
            },
            done);
    }
    std::vector<Runner> runners(limits.at_once ? limits.at_once : 1);
    size_t next = 0;
    bool jobs_left = true;  // more(next), until it says no
    // A runner that died leaves its pipe: writing to it must give an error, not end the parent.
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    int error = 0;

    const auto start = [&](Runner& r) {
        int orders[2], results[2];
        if (pipe(orders) != 0) return false;
        if (pipe(results) != 0) {
            close(orders[0]);
            close(orders[1]);
            return false;
        }
        std::fflush(stdout);  // (what the parent printed so far is not the runner's to write)
        std::fflush(stderr);
        const pid_t pid = fork();
        if (pid < 0) {
            for (int fd : {orders[0], orders[1], results[0], results[1]}) close(fd);
            return false;
        }
        if (pid == 0) {
            // The other runners' pipes stay with the parent: a runner holding another's order
            // pipe would keep that one from ever seeing its end.
            for (const Runner& other : runners)
                if (&other != &r && other.pid > 0) {
                    close(other.orders);
                    close(other.results);
                }
            close(orders[1]);
            close(results[0]);
            serve_runs(orders[0], results[1], job, limits.wall_seconds);
        }
        close(orders[0]);
        close(results[1]);
        r = Runner{};
        r.pid = pid;
        r.orders = orders[1];
        r.results = results[0];
        return true;
    };
    const auto stop = [&](Runner& r) {
        close(r.orders);
        close(r.results);
        int status = 0;
        while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {}
        if (r.busy) done(r.index, died(status, limits.wall_seconds));
        r = Runner{};
    };

    for (;;) {
        // Every idle runner gets the next job; a runner that died is replaced while jobs remain.
        for (Runner& r : runners) {
            if (r.busy || !jobs_left || !(jobs_left = more(next))) continue;
            if (r.pid < 0 && !start(r)) {
                std::fprintf(stderr, "rovane-sim %s: a runner process could not be started: ", command);
                std::perror("");
                error = 1;
                break;
            }
            if (!write_all(r.orders, reinterpret_cast<const char*>(&next), sizeof next)) continue;  // it died: seen below
            r.busy = true;
            r.index = next++;
        }
        if (error) break;
        std::vector<pollfd> watched;
        for (const Runner& r : runners)
            if (r.pid > 0) watched.push_back({r.results, POLLIN, 0});
        const bool working = std::any_of(runners.begin(), runners.end(), [](const Runner& r) { return r.busy; });
        if (!working && !jobs_left) break;  // (jobs left and none running: a runner died idle, seen below)
        if (poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "rovane-sim %s: poll: ", command);
            std::perror("");
            error = 1;
            break;
        }
        for (Runner& r : runners) {
            if (r.pid < 0) continue;
            const auto w = std::find_if(watched.begin(), watched.end(), [&](const pollfd& p) { return p.fd == r.results; });
            if (w == watched.end() || !w->revents) continue;
            char buf[4096];
            const ssize_t n = read(r.results, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {  // the runner is gone (a crash, a signal, the wall-time limit)
                stop(r);
                continue;
            }
            r.pending.append(buf, static_cast<size_t>(n));
            for (size_t end; (end = r.pending.find('\n')) != std::string::npos;) {
                RunOutcome outcome;
                const bool parsed = parse_result(r.pending.substr(0, end), &outcome);
                r.pending.erase(0, end + 1);
                if (!r.busy) continue;
                r.busy = false;
                if (!parsed) outcome = died(0, limits.wall_seconds);
                done(r.index, outcome);
                std::fflush(stdout);
            }
        }
    }
    for (Runner& r : runners)
        if (r.pid > 0) {
            r.busy = false;
            stop(r);
        }
    sigaction(SIGPIPE, &before, nullptr);
    return error;
}

}  // namespace rovane_tool
