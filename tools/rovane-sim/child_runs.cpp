// Recording jobs in child processes: see child_runs.h.
#include "child_runs.h"
#include "run_command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

namespace rovane_tool {

namespace {

// In the child: runs the job with its output thrown away, writes
// "EXIT\tCALLS\tFIRED\tHASH\tKIND=N;KIND=N;...\tOUTCOME\tWHAT BROKE" (the failing calls made and
// fired, the transcript's hash, the faults that fired by kind) to `fd` and exits without running the parent's
// destructors.
[[noreturn]] void run_child(const RunOptions& o, int fd, unsigned wall_seconds) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    if (wall_seconds) alarm(wall_seconds);
    RunOutcome out;
    RunOptions held = o;
    held.transcript_held = 100;
    out.exit_code = run_recording_job(held, &out);
    // What broke, in its first line (the world's report goes on with every thread and the
    // transcript's last events: the replay command shows those).
    std::string broken = out.broken.substr(0, out.broken.find('\n'));
    for (char& ch : broken)
        if (ch == '\t') ch = ' ';
    if (broken.size() > 1000) broken.resize(1000);   // within one atomic pipe write
    std::string kinds;
    for (const auto& [kind, n] : out.fired) kinds += kind + "=" + std::to_string(n) + ";";
    const std::string line = std::to_string(out.exit_code) + "\t" + std::to_string(out.fault_calls) + "\t" +
                             std::to_string(out.faults_fired) + "\t" + out.transcript_hash + "\t" + kinds + "\t" + out.outcome + "\t" + broken;
    ssize_t unused = write(fd, line.data(), line.size());
    (void)unused;
    close(fd);
    _exit(0);
}

// Reads what a child wrote; a child that died before writing gets the way it died.
RunOutcome read_child(int fd, int status, unsigned wall_seconds) {
    std::string text;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fd);
    RunOutcome out;
    size_t tabs[6];
    size_t at = 0;
    int found = 0;
    for (; found < 6; ++found) {
        const size_t tab = text.find('\t', at);
        if (tab == std::string::npos) break;
        tabs[found] = tab;
        at = tab + 1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && found == 6) {
        out.exit_code = std::atoi(text.substr(0, tabs[0]).c_str());
        out.fault_calls = std::strtoull(text.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1).c_str(), nullptr, 10);
        out.faults_fired = std::strtoull(text.substr(tabs[1] + 1, tabs[2] - tabs[1] - 1).c_str(), nullptr, 10);
        out.transcript_hash = text.substr(tabs[2] + 1, tabs[3] - tabs[2] - 1);
        const std::string kinds = text.substr(tabs[3] + 1, tabs[4] - tabs[3] - 1);
        for (size_t p = 0; p < kinds.size();) {
            size_t semi = kinds.find(';', p);
            if (semi == std::string::npos) semi = kinds.size();
            const std::string item = kinds.substr(p, semi - p);
            const size_t eq = item.rfind('=');
            if (eq != std::string::npos) out.fired[item.substr(0, eq)] += std::atoi(item.c_str() + eq + 1);
            p = semi + 1;
        }
        out.outcome = text.substr(tabs[4] + 1, tabs[5] - tabs[4] - 1);
        out.broken = text.substr(tabs[5] + 1);
        return out;
    }
    out.exit_code = sim::exit_code(sim::Verdict::WorldStopped);
    out.outcome = "crashed";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        out.broken = "still running after " + std::to_string(wall_seconds) + " s of wall time: killed";
    else
        out.broken = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                         : "exited " + std::to_string(WEXITSTATUS(status)) + " without a result";
    return out;
}

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

}  // namespace rovane_tool
