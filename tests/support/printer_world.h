// Helpers shared by the tests of printing and laminating: the log since a mark, transcript lines,
// printers in the spooler, a dialog control's text, the module's queues, and a world with the
// laminator behind the spooler printer "Disc Laminator".
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devices/laminator.h"
#include "sequencer/command_queue.h"
#include "support/module_world.h"
#include "win32/spooler.h"
#include "win32/ui.h"
#include "world/world.h"

namespace sim_test {

inline size_t log_size(sim::World& world) { return log_texts(world).size(); }
// The log lines written since the log had `from` lines.
inline std::vector<std::string> log_since(sim::World& world, size_t from) {
    const std::vector<std::string> all = log_texts(world);
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
}
// The lines from the first one equal to `first` on; none when no line is.
inline std::vector<std::string> lines_from(const std::vector<std::string>& all, const std::string& first) {
    return std::vector<std::string>(std::find(all.begin(), all.end(), first), all.end());
}

// The transcript entries of one kind whose text begins with `prefix`.
inline std::vector<sim::TranscriptEntry> transcript(sim::World& world, const std::string& kind,
                                                    const std::string& prefix = "") {
    std::vector<sim::TranscriptEntry> out;
    for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind(kind))
        if (e.text.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
}

inline sim::Printer& install_printer(sim::World& world, const std::string& name, const std::string& port = "USB001",
                                     const std::string& driver = "") {
    sim::PrinterConfig c;
    c.name = name, c.port = port, c.driver = driver;
    return world.spooler().add_printer(c);
}

// The text of a control in an open dialog; "<none>" when the dialog or the control is not there.
inline std::string control_text(sim::World& world, int dialog_id, int control_id) {
    const HWND dlg = world.ui().find_dialog(dialog_id);
    const auto c = dlg ? world.ui().control(dlg, control_id) : std::nullopt;
    return c ? c->text : std::string("<none>");
}

// What the module's global queue and printer queue hold.
inline std::vector<std::string> global_queue() { return {g_szGlobalQueue, g_szGlobalQueue + g_bCmdIndex}; }
inline std::vector<std::string> printer_queue() { return {g_szPrinterQueue, g_szPrinterQueue + g_bPRN_Index}; }

// The module with its foundation and, unless `installed` is false, the laminator.
struct LamWorld {
    sim::World world{config()};
    std::shared_ptr<sim::Laminator> lam;

    explicit LamWorld(const sim::LaminatorConfig& c = sim::LaminatorConfig(), bool installed = true) {
        prepare_module(world);
        if (installed) lam = sim::install_laminator(world, c);
    }
    size_t log_size() { return sim_test::log_size(world); }
    std::vector<std::string> log_since(size_t from) { return sim_test::log_since(world, from); }
};

}  // namespace sim_test
