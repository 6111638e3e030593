// rovane-sim serve: the virtual autoloader in real time on a pseudo-terminal.
//
// The machine is the one `host` builds (the robot on its serial port, the host engine's recorders
// at A, B, C, D, the printer and the laminator the flags ask for), but no module is loaded in the
// world: the program at the other end of the pseudo-terminal is the module. One simulated thread,
// "line", carries the bytes between the pseudo-terminal and the world's serial port and keeps the
// virtual clock level with the wall clock, so that a move that takes 2.5 s in the world takes
// 2.5 s for the program on the other end.
//
// With a shared folder the host engine's stand-in libraries on the Windows side learn the
// recorders from it (recorders.txt, units.txt) and ask for tray movements through it (trays.txt,
// one "UNIT open" or "UNIT close" line per accepted call), which the line thread carries out on
// the world's recorders as the lines appear.
#include <CLI/CLI.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flag_checks.h"
#include "harness/autoloader.h"
#include "harness/verdict.h"
#include "kernel/transcript.h"
#include "machine_flags.h"
#include "printer_lines.h"
#include "tool_commands.h"
#include "win32/serial.h"

namespace rovane_tool {

namespace {

const char* const kServeHelp =
    "Runs the virtual autoloader in real time on a pseudo-terminal: PATH becomes a symbolic link\n"
    "to the terminal's device, and a program that opens a serial port there talks to the\n"
    "simulated robot (under Wine: map COM1 to PATH). The machine is the one 'host' uses, with\n"
    "the same flags; no module runs in the world, the program on the terminal is the module.\n"
    "The world's clock keeps pace with the wall clock: the robot's moves take their real time.\n"
    "\n"
    "With --share DIR the recording engine's stand-in libraries and serve share that folder:\n"
    "serve writes recorders.txt (the host's recorder list) and units.txt (one line per\n"
    "recorder: UNIT LETTER POSITION SERIAL, then 'end'), empties trays.txt and follows it,\n"
    "moving a recorder's tray for each line 'UNIT open' or 'UNIT close' appended to it; and\n"
    "faults.txt, 'tray-fail N' with --tray-fail N (Dorquel.dll then fails each recorder's first\n"
    "N tray calls itself).\n"
    "\n"
    "The printers: serve writes printers.txt (the world's spooler printers, one a line: NAME,\n"
    "PORT, DRIVER, ATTRIBUTES separated by tabs, then 'end') for the Windows side to install,\n"
    "each port mapped to a command that writes every raw document Wine's spooler finishes into\n"
    "docs/ as NANOSECONDS-PID-PORT; serve hands each to the world's printer on that port. For the\n"
    "printer-data value \"MARLUNE\" the Windows host program writes pd-PID-SEQ.req (set or get,\n"
    "the printer, the value, for a write its type and hex bytes) and serve answers pd-PID-SEQ.ans\n"
    "at once from the world's disc printer or laminator: 'RESULT', 'RESULT TYPE HEX', or 'pass'\n"
    "for a printer the world does not hold.\n"
    "\n"
    "The faults are those of 'host', counted in the machine's events so that a script meets them\n"
    "at the same point in both worlds: --robot-error-on CODE@KIND:N and --pause-on KIND:N (the Nth\n"
    "pick, drop or move of the robot), --print-fail N, --empty-bin BIN, --tray-fail N, --mispick P\n"
    "(drawn at each pick where a disc is), the laminator's --lam-jam N and --lam-falls N. --noise P\n"
    "is drawn at each reply, and the number of status replies follows the wall clock: a run with\n"
    "noise does not repeat.\n"
    "\n"
    "Prints, as they happen:\n"
    "    <ms> <command>                 each robot command but the status query _SI\n"
    "    <ms> tray UNIT open|close      each tray line carried out\n"
    "    <ms> tray UNIT refused: WHY    a tray line that could not be\n"
    "    <ms> lam COMMAND               each laminator command (TRAYIN, TRAYOUT, LAMINATE, HEATER)\n"
    "    <ms> doc \"PRINTER\" N bytes HASH  any other document a printer received (FNV-1a hash)\n"
    "and at the end (SIGTERM, SIGINT, SIGHUP or --seconds) 'place NAME COUNT' for every place\n"
    "that holds discs.\n"
    "\n"
    "Exit 0 when every disc is accounted for; 1 on a usage error or when PATH exists and is\n"
    "not a symbolic link; 3 when the terminal or the world failed; 4 when a disc was lost or\n"
    "duplicated (the broken invariants on standard error).";

struct ServeOptions {
    std::string pty_path;
    std::string share;     // "" = no shared folder
    uint64_t seconds = 0;  // 0 = until a signal
    uint64_t seed = 1;
    MachineFlags machine;
};

// Set by SIGTERM, SIGINT and SIGHUP; the line thread ends its loop when it sees it.
volatile sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) { g_stop = 1; }

std::string errno_text() { return std::strerror(errno); }

// The pseudo-terminal: its master side for serve, its slave side for the client, reached through
// a symbolic link. serve keeps a slave descriptor of its own open for as long as it runs, so that
// a client closing and reopening the port never hangs the master up.
class Pty {
public:
    ~Pty() {
        if (linked_) {
            // Only the link this run made: another serve may have replaced it meanwhile.
            char target[256] = {};
            const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
            if (n > 0 && slave_name_ == std::string(target, static_cast<size_t>(n))) unlink(link_.c_str());
        }
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }

    bool open(std::string* error) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            *error = "cannot create a pseudo-terminal: " + errno_text();
            return false;
        }
        const char* name = ptsname(master_);
        if (!name) {
            *error = "cannot name the pseudo-terminal: " + errno_text();
            return false;
        }
        slave_name_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY);
        if (slave_ < 0) {
            *error = "cannot open " + slave_name_ + ": " + errno_text();
            return false;
        }
        termios raw{};
        if (tcgetattr(slave_, &raw) != 0) {
            *error = "cannot read the terminal settings of " + slave_name_ + ": " + errno_text();
            return false;
        }
        cfmakeraw(&raw);
        if (tcsetattr(slave_, TCSANOW, &raw) != 0) {
            *error = "cannot put " + slave_name_ + " in raw mode: " + errno_text();
            return false;
        }
        const int flags = fcntl(master_, F_GETFL);
        if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
            *error = "cannot make the pseudo-terminal non-blocking: " + errno_text();
            return false;
        }
        return true;
    }

    // Makes `path` a symbolic link to the slave device, replacing a link that is there.
    bool link(const std::string& path, std::string* error) {
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                *error = path + " exists and is not a symbolic link";
                return false;
            }
            if (unlink(path.c_str()) != 0) {
                *error = "cannot remove the old link " + path + ": " + errno_text();
                return false;
            }
        }
        if (symlink(slave_name_.c_str(), path.c_str()) != 0) {
            *error = "cannot make " + path + " a link to " + slave_name_ + ": " + errno_text();
            return false;
        }
        link_ = path;
        linked_ = true;
        return true;
    }

    const std::string& slave_name() const { return slave_name_; }

    // What the client has written, without waiting (empty when nothing came).
    std::string take_input() {
        std::string out;
        char buffer[512];
        for (;;) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, static_cast<size_t>(n));
                if (out.size() >= 4096) break;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            break;  // EAGAIN: nothing more now
        }
        return out;
    }

    // Hands the robot's bytes to the client. What the terminal cannot take now waits for the next
    // call; beyond a serial driver's receive buffer (4096 bytes) bytes are lost, as on a port
    // nobody reads.
    void send(const std::string& bytes) {
        const size_t room = kBuffer > pending_.size() ? kBuffer - pending_.size() : 0;
        pending_.append(bytes, 0, std::min(room, bytes.size()));
        while (!pending_.empty()) {
            const ssize_t n = write(master_, pending_.data(), pending_.size());
            if (n > 0) {
                pending_.erase(0, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            break;  // EAGAIN: the terminal is full for now
        }
    }

private:
    static constexpr size_t kBuffer = 4096;
    int master_ = -1;
    int slave_ = -1;
    std::string slave_name_;
    std::string link_;
    bool linked_ = false;
    std::string pending_;
};

// Writes a whole file under a temporary name, then renames it into place, so that a reader sees
// either no file or all of it.
bool write_file_whole(const std::string& path, const std::string& text, std::string* error) {
    const std::string temporary = path + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        *error = "cannot write " + temporary + ": " + errno_text();
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !written) {
        *error = "cannot write " + temporary + ": " + errno_text();
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot rename " + temporary + " to " + path + ": " + errno_text();
        return false;
    }
    return true;
}

// units.txt: "UNIT LETTER POSITION SERIAL" per recorder (its GET CONFIGURATION serial, "-"
// without one), positions A, B, C, D in wiring order, then "end".
std::string units_text(const sim::Autoloader& machine) {
    std::string text;
    for (size_t i = 0; i < machine.drives.size(); ++i) {
        const sim::RecorderConfig& c = machine.drives[i]->config();
        text += std::to_string(c.unit) + " " + std::string(1, c.letter) + " " + std::string(1, static_cast<char>('A' + i)) +
                " " + (c.sdk_serial && !c.sdk_serial->empty() ? *c.sdk_serial : std::string("-")) + "\n";
    }
    return text + "end\n";
}

// printers.txt: the world's spooler printers in their order, one a line, "NAME<TAB>PORT<TAB>DRIVER
// <TAB>ATTRIBUTES" (attributes in decimal), then "end": the Windows side installs the same printers
// in its own spooler, their ports mapped to the spool script.
std::string printers_text(sim::Autoloader& machine) {
    std::string text;
    for (sim::Printer* p : machine.world.spooler().printers()) {
        if (p->removed || p->config.connection) continue;
        const std::string driver = p->config.driver.empty() ? p->config.name : p->config.driver;
        text += p->config.name + "\t" + p->config.port + "\t" + driver + "\t" + std::to_string(p->config.attributes) + "\n";
    }
    return text + "end\n";
}

// Follows trays.txt from its start: the complete lines (ending in LF) appended since the last
// look. A file that shrank or was replaced is followed again from its start.
class TrayFile {
public:
    explicit TrayFile(std::string path) : path_(std::move(path)) {}
    ~TrayFile() {
        if (fd_ >= 0) close(fd_);
    }

    std::vector<std::string> new_lines() {
        std::vector<std::string> lines;
        struct stat now {};
        if (stat(path_.c_str(), &now) != 0) return lines;  // gone for now: wait for it
        if (fd_ < 0 || now.st_ino != inode_ || now.st_dev != device_) {
            if (fd_ >= 0) close(fd_);
            fd_ = ::open(path_.c_str(), O_RDONLY);
            if (fd_ < 0) return lines;
            inode_ = now.st_ino;
            device_ = now.st_dev;
            offset_ = 0;
            partial_.clear();
        }
        if (now.st_size < offset_) {
            offset_ = 0;
            partial_.clear();
        }
        char buffer[4096];
        for (;;) {
            const ssize_t n = pread(fd_, buffer, sizeof buffer, offset_);
            if (n <= 0) break;
            offset_ += n;
            partial_.append(buffer, static_cast<size_t>(n));
        }
        size_t at = 0;
        for (size_t end; (end = partial_.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(partial_.substr(at, end - at));
        partial_.erase(0, at);
        return lines;
    }

private:
    std::string path_;
    int fd_ = -1;
    ino_t inode_ = 0;
    dev_t device_ = 0;
    off_t offset_ = 0;
    std::string partial_;
};

// Carries out one line of trays.txt on the world's recorders; returns what serve prints for it
// (without the time).
std::string act_on_tray_line(sim::Autoloader& machine, std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    for (size_t at = 0; at < line.size();) {
        const size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string::npos) break;
        const size_t end = std::min(line.find_first_of(" \t", start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    if (words.size() != 2 || (words[1] != "open" && words[1] != "close"))
        return "tray \"" + sim::Transcript::escape(line) + "\" refused: not \"UNIT open\" or \"UNIT close\"";
    const std::string& unit_text = words[0];
    char* end = nullptr;
    errno = 0;
    const long unit = std::strtol(unit_text.c_str(), &end, 10);
    if (*end || errno || unit < 0 || unit > 0x7FFFFFFF)
        return "tray " + sim::Transcript::escape(unit_text) + " refused: not a unit number";
    const std::shared_ptr<sim::RecorderDevice> recorder = machine.engine->recorder(static_cast<LONG>(unit));
    if (!recorder) return "tray " + unit_text + " refused: no such unit";
    const bool open = words[1] == "open";
    const std::string how = recorder->move_tray(open);
    machine.world.kernel().record("recorder", "trays.txt: unit " + unit_text + " " + words[1] + ": " + how);
    return "tray " + unit_text + " " + words[1];
}

// The names in a folder that pass `keep`, sorted.
std::vector<std::string> folder_names(const std::string& dir, const std::function<bool(const std::string&)>& keep) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (keep(name)) names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool read_whole(const std::string& path, std::string* bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes->append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool ends_with(const std::string& s, const char* end) {
    const size_t n = std::strlen(end);
    return s.size() >= n && s.compare(s.size() - n, n, end) == 0;
}

// The raw documents Wine's spooler delivered: for a printer's port, the spooler pipes each finished
// job into the shared folder's spool script (wine-check.sh maps the ports to it), which writes the
// bytes whole into docs/ as "NANOSECONDS-PID-PORT". Names sort in the order the documents came: the
// spooler's EndDocPrinter returns only once the script has ended, so one document is written before
// the module can send the next. Each document goes to the world's printer on that port, as the
// world's EndDocPrinter hands it over; returns what serve prints for each (without the time).
std::vector<std::string> deliver_documents(sim::Autoloader& machine, const std::string& docs) {
    std::vector<std::string> lines;
    sim::Kernel& k = machine.world.kernel();
    for (const std::string& name : folder_names(docs, [](const std::string& n) { return !n.empty() && n[0] != '.'; })) {
        const std::string path = docs + "/" + name;
        std::string bytes;
        const bool read = read_whole(path, &bytes);
        unlink(path.c_str());
        // The port is what follows the second "-".
        const size_t first = name.find('-');
        const size_t second = first == std::string::npos ? std::string::npos : name.find('-', first + 1);
        const std::string port = second == std::string::npos ? "" : name.substr(second + 1);
        std::shared_ptr<sim::Printer> printer;
        for (sim::Printer* p : machine.world.spooler().printers())
            if (!printer && p->config.port == port) printer = machine.world.spooler().find_shared(p->config.name);
        if (!read || !printer) {
            lines.push_back("doc \"" + sim::Transcript::escape(name) + "\" refused: " +
                            (read ? "no printer of the world on port \"" + sim::Transcript::escape(port) + "\""
                                  : "cannot read it: " + errno_text()));
            continue;
        }
        sim::SpoolDocument doc;
        doc.printer = printer->config.name;
        doc.name = "Wine job " + name;
        doc.datatype = "RAW";
        doc.bytes.assign(bytes.begin(), bytes.end());
        doc.job_id = machine.world.spooler().next_job_id();
        doc.started = doc.finished = k.now();
        k.record("spool", "document job " + std::to_string(doc.job_id) + " to \"" + sim::Transcript::escape(doc.printer) +
                              "\" from Wine's spooler: " + std::to_string(doc.bytes.size()) + " bytes");
        if (printer->config.model) printer->config.model->on_document(doc);
        ++printer->documents_finished;
        printer->bytes_finished += doc.bytes.size();
        printer->documents.push_back(std::move(doc));
        if (printer->documents_kept)
            while (printer->documents.size() > printer->documents_kept) printer->documents.pop_front();
    }
    return lines;
}

// The printer drivers' answers to the printer-data value "MARLUNE" under Wine: the Windows host
// program asks for each write and read of the value on a printer (pd-PID-SEQ.req in the shared
// folder) and waits for the answer (pd-PID-SEQ.ans), which the world's printer model gives as the
// world's SetPrinterDataA and GetPrinterDataA would, at once: "RESULT" for a write, "RESULT TYPE
// HEX" for a read, "pass" for a printer the world does not hold (Wine's spooler answers then).
void answer_printer_data(sim::Autoloader& machine, const std::string& share) {
    sim::Kernel& k = machine.world.kernel();
    for (const std::string& name : folder_names(share, [](const std::string& n) { return n.rfind("pd-", 0) == 0 && ends_with(n, ".req"); })) {
        const std::string path = share + "/" + name;
        std::string text;
        if (!read_whole(path, &text)) continue;
        unlink(path.c_str());
        std::vector<std::string> lines;
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        std::string answer = "pass";
        std::shared_ptr<sim::Printer> printer =
            lines.size() >= 3 ? machine.world.spooler().find_shared(lines[1]) : std::shared_ptr<sim::Printer>();
        if (printer && printer->config.model && lines[0] == "set" && lines.size() >= 5) {
            std::vector<uint8_t> bytes;
            for (size_t i = 0; i + 1 < lines[4].size(); i += 2)
                bytes.push_back(static_cast<uint8_t>(std::strtoul(lines[4].substr(i, 2).c_str(), nullptr, 16)));
            const uint32_t type = static_cast<uint32_t>(std::strtoul(lines[3].c_str(), nullptr, 10));
            const uint32_t result = printer->config.model->set_data(lines[2], type, bytes);
            k.record("spool", "SetPrinterDataA \"" + sim::Transcript::escape(lines[1]) + "\" \"" +
                                  sim::Transcript::escape(lines[2]) + "\" from Wine, " + std::to_string(bytes.size()) +
                                  " bytes -> " + std::to_string(result));
            answer = std::to_string(result);
        } else if (printer && printer->config.model && lines[0] == "get") {
            uint32_t type = REG_NONE;
            std::vector<uint8_t> value;
            const uint32_t result = printer->config.model->get_data(lines[2], &type, &value);
            k.record("spool", "GetPrinterDataA \"" + sim::Transcript::escape(lines[1]) + "\" \"" +
                                  sim::Transcript::escape(lines[2]) + "\" from Wine -> " + std::to_string(result) + ", " +
                                  std::to_string(value.size()) + " bytes");
            answer = std::to_string(result);
            if (result == ERROR_SUCCESS) {
                answer += " " + std::to_string(type) + " ";
                char hex[3];
                for (uint8_t b : value) {
                    std::snprintf(hex, sizeof hex, "%02x", b);
                    answer += hex;
                }
            }
        }
        std::string error;
        const std::string answer_path = path.substr(0, path.size() - 4) + ".ans";
        if (!write_file_whole(answer_path, answer + "\n", &error))
            std::fprintf(stderr, "rovane-sim serve: %s\n", error.c_str());
    }
}

void print_line(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

const char* const kServeName = "rovane-sim serve";

// A path that is something else than a link is refused before anything is made, and so is a
// shared folder that is not one. A usage error's text, or "".
std::string check_serve_paths(const ServeOptions& o) {
    struct stat st {};
    if (lstat(o.pty_path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return o.pty_path + " exists and is not a symbolic link; not replacing it";
    if (o.share.empty()) return "";
    if (stat(o.share.c_str(), &st) != 0 && mkdir(o.share.c_str(), 0777) != 0)
        return "cannot create the shared folder " + o.share + ": " + errno_text();
    if (stat(o.share.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return o.share + " is not a folder";
    return "";
}

// The shared folder as the Windows side reads it: an empty trays.txt, the faults the stand-in
// libraries play themselves (a failing tray call is answered on the Windows side, at once, as the
// engine's own call would be), an empty docs folder, the printers, the recorders and the units.
std::string prepare_share(const ServeOptions& o, sim::Autoloader& machine) {
    const std::string dir = o.share + "/";
    FILE* trays = std::fopen((dir + "trays.txt").c_str(), "wb");
    if (!trays) return "cannot create " + dir + "trays.txt: " + errno_text();
    std::fclose(trays);
    const std::string faults = o.machine.tray_fail ? "tray-fail " + std::to_string(o.machine.tray_fail) + "\n" : "";
    if (mkdir((dir + "docs").c_str(), 0777) != 0 && errno != EEXIST) return "cannot create " + dir + "docs: " + errno_text();
    for (const std::string& old : folder_names(dir + "docs", [](const std::string& n) { return n != "." && n != ".."; }))
        unlink((dir + "docs/" + old).c_str());
    std::string error;
    if (!write_file_whole(dir + "faults.txt", faults, &error) ||
        !write_file_whole(dir + "printers.txt", printers_text(machine), &error) ||
        !write_file_whole(dir + "recorders.txt", machine.recorder_list(), &error) ||
        !write_file_whole(dir + "units.txt", units_text(machine), &error))
        return error;
    return "";
}

void catch_stop_signals() {
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// The line between the pseudo-terminal and the world, run on the world's thread "line".
struct ServeLine {
    const ServeOptions& o;
    sim::Autoloader& machine;
    Pty& pty;
    std::string port_name;            // the robot's port in the world
    std::unique_ptr<TrayFile> trays;  // with a shared folder
    std::string docs;                 // the shared folder's docs, "" without one
    std::string failure, note;        // why the line could not be served; why it stopped early
};

// The world's serial port, set up as the robot's line; INVALID_HANDLE_VALUE after `failure`.
HANDLE open_world_port(ServeLine& l) {
    const std::string port = l.port_name;
    HANDLE h = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        l.failure = "cannot open " + port + " in the world (error " + std::to_string(GetLastError()) + ")";
        return h;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = l.machine.robot->baud_rate();
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // ReadFile returns at once with what has come
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts)) {
        l.failure = "cannot set up " + port + " in the world (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// What the spooler delivered, then the printer-data requests: a command document the module
// finished before it asked for the laminator's status is in the laminator when the status is
// read, as in the world.
void serve_documents(ServeLine& l) {
    if (l.docs.empty()) return;
    for (const std::string& refused : deliver_documents(l.machine, l.docs))
        print_line("    " + std::to_string(sim::kernel().now() / sim::kMs) + " " + refused + "\n");
    answer_printer_data(l.machine, l.o.share);
}

void serve_trays(ServeLine& l) {
    if (!l.trays) return;
    for (const std::string& t : l.trays->new_lines())
        print_line("    " + std::to_string(sim::kernel().now() / sim::kMs) + " " + act_on_tray_line(l.machine, t) + "\n");
}

// One round: documents, the bytes both ways, the tray lines.
void serve_round(ServeLine& l, HANDLE port) {
    serve_documents(l);
    const std::string in = l.pty.take_input();
    if (!in.empty()) {
        DWORD written = 0;
        WriteFile(port, in.data(), static_cast<DWORD>(in.size()), &written, nullptr);
    }
    char out[512];
    DWORD got = 0;
    if (!ReadFile(port, out, sizeof out, &got, nullptr)) got = 0;
    l.pty.send(std::string(out, got));  // also what the terminal could not take before
    serve_trays(l);
}

// Keep pace: virtual time ahead of the wall clock waits for it.
void keep_pace(sim::Micros virtual_start, std::chrono::steady_clock::time_point wall_start) {
    const auto wall =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - wall_start).count();
    const sim::Micros ahead_of = sim::kernel().now() - virtual_start;
    if (wall >= 0 && ahead_of > static_cast<sim::Micros>(wall)) {
        const sim::Micros wait = ahead_of - static_cast<sim::Micros>(wall);
        timespec ts{static_cast<time_t>(wait / sim::kSecond), static_cast<long>(wait % sim::kSecond) * 1000};
        nanosleep(&ts, nullptr);  // a signal cuts it short; the loop then ends
    }
}

// The end. What the module wrote before serve was told to stop is still in the terminal, and the
// world takes all of it, as the robot would: the module's last "_RESET" (that of Rovane_End)
// comes just before the host program ends, and serve is stopped once it has ended, maybe while
// the line slept. The same for the last documents, printer-data requests and tray lines. A write
// to the world's port returns once its bytes have left; a short virtual wait lets the robot act
// on the last of them.
void drain_at_stop(ServeLine& l, HANDLE port) {
    serve_documents(l);
    for (std::string rest; !(rest = l.pty.take_input()).empty();) {
        DWORD written = 0;
        WriteFile(port, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr);
    }
    serve_trays(l);
    Sleep(100);
}

void serve_line(ServeLine& l) {
    sim::Kernel& k = sim::kernel();
    const HANDLE port = open_world_port(l);
    if (port == INVALID_HANDLE_VALUE) return;
    const sim::Micros virtual_start = k.now();
    const auto wall_start = std::chrono::steady_clock::now();
    // The world's time budget ends a run with a report: serve stops a minute before it.
    const sim::Micros last = k.config().budget - sim::kMinute;
    while (!g_stop) {
        if (l.o.seconds && k.now() - virtual_start >= l.o.seconds * sim::kSecond) break;
        if (k.now() >= last) {
            l.note = "the world's time budget is used up";
            break;
        }
        serve_round(l, port);
        Sleep(2);
        keep_pace(virtual_start, wall_start);
    }
    if (g_stop) drain_at_stop(l, port);
    CloseHandle(port);
}

// The world's robot and devices, the shared folder and the pseudo-terminal; nonzero (the exit
// code, after its message) when one cannot be made.
int open_serve(const ServeOptions& o, sim::Autoloader& machine, Pty& pty) {
    std::string error;
    if (!o.share.empty()) error = prepare_share(o, machine);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", kServeName, error.c_str());
        return sim::exit_code(sim::Verdict::UsageError);
    }
    if (!pty.open(&error)) {
        std::fprintf(stderr, "%s: %s\n", kServeName, error.c_str());
        return sim::exit_code(sim::Verdict::WorldStopped);
    }
    if (!pty.link(o.pty_path, &error)) {
        std::fprintf(stderr, "%s: %s\n", kServeName, error.c_str());
        return sim::exit_code(sim::Verdict::UsageError);
    }
    return 0;
}

sim::Verdict judge_serve(sim::Autoloader& machine, const ServeLine& line, const sim::RunResult& result) {
    if (!line.note.empty()) std::fprintf(stderr, "%s: %s\n", kServeName, line.note.c_str());
    if (!line.failure.empty() || !result.ok()) {
        std::fprintf(stderr, "%s: the world stopped: %s\n", kServeName,
                     line.failure.empty() ? result.report.c_str() : line.failure.c_str());
        return sim::Verdict::WorldStopped;
    }
    for (const std::string& p : machine.places()) std::printf("%s\n", p.c_str());
    std::fflush(stdout);
    const std::string broken = machine.check_invariants(false);
    if (!broken.empty()) std::fprintf(stderr, "%s: invariants broken:\n%s", kServeName, broken.c_str());
    return sim::verdict_of(true, broken, false);
}

int run_serve(const ServeOptions& o) {
    sim::AutoloaderConfig cfg = machine_config(o.machine, o.seed);
    // The robot drops a command whose bytes stop for half a second, as its firmware does. The
    // module writes a command one byte at a time, and here the silence between two bytes is
    // measured on the wall clock, where a loaded machine can hold the writing program (or this
    // one) back for longer than that: seen as a dropped "_" and an invalid "SI" with the
    // machine's load above 4, where the world, on its own clock, sees the bytes together. So the
    // robot of serve waits ten seconds before it drops a partial command.
    cfg.robot.partial_command_timeout = 10 * sim::kSecond;
    const std::string refused = check_serve_paths(o);
    if (!refused.empty()) {
        std::fprintf(stderr, "%s: %s\n", kServeName, refused.c_str());
        return sim::exit_code(sim::Verdict::UsageError);
    }
    sim::Autoloader machine(cfg);
    apply_machine_faults(o.machine, machine);
    Pty pty;
    if (const int failed = open_serve(o, machine, pty)) return failed;
    catch_stop_signals();
    std::fprintf(stderr, "%s: the robot on %s -> %s; %s; seed %llu\n", kServeName, o.pty_path.c_str(),
                 pty.slave_name().c_str(), o.share.empty() ? "no shared folder" : ("shared folder " + o.share).c_str(),
                 static_cast<unsigned long long>(o.seed));
    const int wire = machine.robot->on_received([](const sim::ReceivedCommand& c) {
        if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == "_SI") return;
        print_line("    " + c.line() + "\n");
    });
    // The documents the printers receive, beside the robot's commands, as `host --wire` prints them.
    witness_documents(machine.world, [&machine](const sim::SpoolDocument& d) {
        print_line("    " + std::to_string(machine.world.kernel().now() / sim::kMs) + " " + document_line(d) + "\n");
    });
    ServeLine line{o, machine, pty, cfg.port, nullptr, "", "", ""};
    if (!o.share.empty()) {
        line.trays = std::make_unique<TrayFile>(o.share + "/trays.txt");
        line.docs = o.share + "/docs";
    }
    machine.world.spawn("line", [&line] { serve_line(line); });
    const sim::RunResult result = machine.world.run();
    machine.robot->remove_received_listener(wire);
    return sim::exit_code(judge_serve(machine, line, result));
}

}  // namespace

Command add_serve_command(CLI::App& tool) {
    auto o = std::make_shared<ServeOptions>();
    CLI::App* c = tool.add_subcommand("serve", "Runs the virtual autoloader in real time on a pseudo-terminal.");
    c->footer(kServeHelp);
    c->add_option("--pty", o->pty_path, "the symbolic link to the pseudo-terminal the robot answers on")
        ->required()
        ->type_name("PATH");
    c->add_option("--share", o->share, "the folder shared with the recording engine's stand-in libraries (default none)")
        ->type_name("DIR");
    c->add_option("--seconds", o->seconds, "end after N seconds (default: at SIGTERM or SIGINT)")
        ->type_name("N")
        ->check(whole_number(1, 47 * 3600));
    c->add_option("--seed", o->seed, "the world's seed (default 1)")->type_name("N")->check(whole_number());
    add_machine_flags(c, &o->machine, false);
    add_counted_fault_flags(c, &o->machine);
    add_speed_flag(c, &o->machine);
    return {c, [o] { return run_serve(*o); }};
}

}  // namespace rovane_tool
