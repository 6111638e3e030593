#include "harness/autoloader.h"
#include "harness/log_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel/transcript.h"
#include "rovane.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/serial.h"
#include "win32/spooler.h"
#include "win32/ui.h"

namespace sim {

namespace {

WorldConfig world_config(const AutoloaderConfig& c) {
    WorldConfig w;
    w.seed = c.seed;
    w.unanswered_window_limit = c.unanswered_window_limit;
    w.budget = c.budget;
    return w;
}

char drive_code_for(const AutoloaderConfig& c) {
    if (c.drive_code) return *c.drive_code;
    return c.drives == 4 ? 'A' : 'B';
}

PrinterConfig spooler_printer(const std::string& name, const std::string& port) {
    PrinterConfig p;
    p.name = name;
    p.port = port;
    p.driver = name + " Driver";
    return p;
}

// "[PORTS]" with the keys given, in order, as the profile functions write them.
std::string settings_text(const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string text = "[PORTS]\r\n";
    for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
    return text;
}

}  // namespace

Autoloader::Autoloader(const AutoloaderConfig& config) : config_(config), world(world_config(config)) {
    if (config_.drives != 1 && config_.drives != 2 && config_.drives != 4) config_.drives = 4;

    if (config_.register_data_folder) {
        world.files().mkdir(kDataFolder);
        for (const char* keyword : {"VeltoDVD", "Fenwit", "Quessa"})
            world.registry().set_string(HKEY_LOCAL_MACHINE, std::string("Software\\Marlune\\") + keyword, "DataPath",
                                        kDataFolder);
    }

    RobotConfig rc = config_.robot;
    rc.drive_code = drive_code_for(config_);
    rc.rng_salt ^= config_.seed;
    robot = std::make_shared<Robot>(rc);
    world.serial().attach(config_.port, robot);
    if (config_.robot_off) robot->power_off();

    engine = std::make_unique<HostEngine>(world);
    std::vector<std::pair<std::string, std::string>> keys;
    for (int i = 0; i < config_.drives; ++i) {
        const char position = static_cast<char>('A' + i);
        RecorderConfig r = RecorderConfig::external(i + 1, static_cast<char>('E' + i), "SN-DRIVE-" + std::to_string(i + 1));
        if (i < static_cast<int>(config_.recorder_names.size())) r.name = config_.recorder_names[i];
        drives.push_back(engine->add_recorder(r));
        robot->connect_recorder(position, drives.back());
        if (config_.stored_serials && config_.drives == 4)
            keys.emplace_back("Drive" + std::to_string(i + 1) + "Serial", *r.sdk_serial);
    }
    for (const auto& kv : config_.settings) keys.push_back(kv);
    if (config_.register_data_folder && !keys.empty())
        world.files().write_file(settings_path(), settings_text(keys));

    if (config_.office_printers) world.spooler().add_printer(spooler_printer(kOfficePrinter, "IP_10.1.1.20"));
    if (!config_.disc_printer.empty()) {
        DiscPrinterConfig pc = config_.printer_config;
        pc.name = config_.disc_printer;
        pc.port = config_.disc_printer_port;
        pc.tray_move_time = config_.printer_tray_time;
        if (config_.disc_in_printer) pc.report_disc_in = true;
        printer = install_disc_printer(world, pc);
        robot->connect_printer(printer);
        if (config_.disc_in_printer) {
            // The disc goes on the tray while it is out; the tray then stands in with it.
            printer->set_tray_in(false);
            if (const DiscId id = robot->place_new_disc('S')) found_.push_back({id, 'S'});
            printer->set_tray_in(true);
        }
    }
    if (config_.office_printers) world.spooler().add_printer(spooler_printer(kFilePrinter, "FILE:"));
    if (config_.laminator) {
        LaminatorConfig lc = config_.laminator_config;
        if (config_.disc_in_laminator) lc.report_disc_in = true;
        laminator = install_laminator(world, lc);
        robot->connect_laminator(laminator);
        if (config_.disc_in_laminator) {
            laminator->set_tray_now(true);
            if (const DiscId id = robot->place_new_disc('E')) found_.push_back({id, 'E'});
            laminator->set_tray_now(false);
        }
    }
    if (config_.label_app) label_app = install_label_app(world);
}

Autoloader::~Autoloader() = default;

std::string Autoloader::settings_path() const { return std::string(kDataFolder) + "ROVANE_QIX.INI"; }

std::string Autoloader::setting(const std::string& key) {
    std::string text;
    if (!world.files().read_file(settings_path(), &text)) return "";
    const std::string prefix = key + "=";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
        at = end + 1;
    }
    return "";
}

std::vector<std::string> module_log_lines(World& world, const std::string& path) {
    std::vector<std::string> out;
    std::string log;
    world.files().read_file(path, &log);
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        out.push_back(line.size() >= 20 ? line.substr(20) : line);  // "MM/DD hh:mm:ss:mmm  "
        start = end + 2;
    }
    return out;
}

std::vector<std::string> Autoloader::log_texts() {
    return module_log_lines(world, std::string(kDataFolder) + "Rovane_QIX.dbg");
}

InitOutcome Autoloader::init_module(const std::string& host_name, const std::string* list) {
    const std::string text_in = list ? *list : recorder_list();
    std::vector<char> text(text_in.begin(), text_in.end());
    text.resize(text.size() + 8192, '\0');
    char selected[ROVANE_RECORDER_TEXT_SIZE] = {};
    char product[ROVANE_PRODUCT_NAME_SIZE] = {};
    InitOutcome r;
    r.result = Rovane_Init(engine->engine_handle(), host_window(), host_name.c_str(), "", text.data(), selected, &r.error,
                           product);
    const std::string all = selected;
    for (size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2) {
        r.lines.push_back(all.substr(at, end - at));
        r.units.push_back(std::strtol(r.lines.back().c_str(), nullptr, 10));
    }
    r.product = product;
    return r;
}

HWND Autoloader::host_window() {
    if (!host_window_) host_window_ = world.ui().create_host_window("Disc Recording Host");
    return host_window_;
}

size_t Autoloader::take_away(char place, const std::function<bool(const Disc&)>& leave) {
    const std::vector<DiscId> here = robot->discs_at(std::string(1, place));
    const size_t n = robot->empty(place, leave);
    // Those still on the place were left there; the others came off.
    const std::vector<DiscId> kept = robot->discs_at(std::string(1, place));
    if (!n && kept.empty()) return 0;
    size_t blank = 0;
    for (DiscId id : here) {
        if (std::find(kept.begin(), kept.end(), id) != kept.end()) continue;
        for (FoundDisc& f : found_)
            if (id == f.id) f.taken_from = place;
        const auto disc = robot->disc(id);
        if (disc && !disc->recorded) ++blank;
        taken_discs_.push_back({id, place});
    }
    if (n) taken_[place] += n;
    world.kernel().record("operator", "takes " + std::to_string(n) + " discs off " + std::string(1, place) +
                                          (blank ? ", " + std::to_string(blank) + " of them blank" : "") +
                                          (kept.empty() ? "" : ", leaves " + std::to_string(kept.size()) + " on it"));
    return n;
}

RunResult Autoloader::settle(Micros limit) {
    const Micros until = world.kernel().now() + limit;
    Kernel& k = world.kernel();
    return world.run([&k, until] {
        if (k.now() >= until) return true;
        for (const auto& t : k.threads())
            if (t->state != ThreadState::Finished && t->state != ThreadState::Terminated) return false;
        return true;
    });
}

std::vector<std::string> Autoloader::places() const {
    static const std::pair<const char*, const char*> kPlaces[] = {
        {"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "4"}, {"5", "5"},           {"A", "A"},         {"B", "B"},
        {"C", "C"}, {"D", "D"}, {"G", "G"}, {"H", "H"}, {"picker", "picker"}, {"printer", "S"},   {"laminator", "E"},
        {"lost", "lost"}};
    std::vector<std::string> out;
    for (const auto& [name, place] : kPlaces) {
        const size_t n = robot->count_at(place);
        if (n) out.push_back(std::string("place ") + name + " " + std::to_string(n));
    }
    return out;
}

std::string Autoloader::check_invariants(bool module_ended, bool ended_mid_job) {
    std::string broken;
    const std::string conservation = robot->check_conservation();
    if (!conservation.empty()) broken += "disc accounting: " + conservation + "\n";
    for (const LostDisc& l : robot->lost())
        broken += "disc " + std::to_string(l.disc.id) + " lost at " + std::string(1, l.place) + ": " + l.reason + "\n";
    if (printer)
        for (DiscId id : printer->printed_twice())
            broken += "disc " + std::to_string(id) + " printed " + std::to_string(printer->print_count(id)) + " times\n";
    if (laminator)
        for (DiscId id : laminator->laminated_twice())
            broken += "disc " + std::to_string(id) + " laminated " + std::to_string(laminator->lamination_count(id)) +
                      " times\n";
    // The diagnostic logs: every line in its format, each file within its size limit.
    for (const char* log : {"Rovane_QIX.dbg", "Rovane_QIX.dbg2"}) {
        std::string content;
        if (world.files().read_file(std::string(kDataFolder) + log, &content)) broken += check_module_log(log, content);
    }
    if (module_ended) {
        // The host's own threads are named "host"; every other simulated thread is the module's.
        // Rovane_End stops the workers it keeps track of; the printing and laminating dialogs are
        // closed by the job's end or abort, so a host that ends the module in the middle of a job
        // leaves such a dialog showing (on its own thread, in its modal loop).
        for (const auto& t : world.kernel().threads()) {
            if (t->name == "host" || t->state == ThreadState::Finished || t->state == ThreadState::Terminated) continue;
            if (ended_mid_job && t->state == ThreadState::Blocked && std::strcmp(t->waiting_in, "DialogBoxParamA") == 0) continue;
            broken += "thread " + t->name + " still runs after Rovane_End (in " + t->waiting_in + ")\n";
        }
    }
    if (!broken.empty()) broken += "seed " + std::to_string(config_.seed) + " replays this run\n";
    return broken;
}

}  // namespace sim
