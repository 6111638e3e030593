// A whole autoloader for the tests of the exports (the shared harness), with the host's side:
// Rovane_Init as a host calls it, and the message boxes the operator saw.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness/autoloader.h"
#include "kernel/transcript.h"
#include "rovane.h"
#include "support/module_world.h"
#include "support/sim_test.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace sim_test {

inline sim::AutoloaderConfig autoloader(uint64_t fallback_seed = 1) {
    sim::AutoloaderConfig c;
    c.seed = seed(fallback_seed);
    return c;
}

// On the host's thread: Rovane_Init as a host calls it (the harness's own call).
using InitResult = sim::InitOutcome;
inline InitResult init(sim::Autoloader& m, const char* host = "VeltoDVD", const std::string* list = nullptr) {
    return m.init_module(host, list);
}

// The message boxes shown so far, as the transcript has them: caption, flags and text.
inline std::vector<std::string> boxes(sim::Autoloader& m) { return boxes(m.world); }
inline std::string box(const std::string& caption, UINT flags, const std::string& text) {
    char f[16];
    std::snprintf(f, sizeof f, "0x%x", flags);
    return "caption=\"" + sim::Transcript::escape(caption) + "\" flags=" + f + " text=\"" + sim::Transcript::escape(text) +
           "\"";
}

// Commands the robot received, without the status queries.
inline std::vector<std::string> robot_commands(sim::Autoloader& m) {
    std::vector<std::string> out;
    for (const sim::ReceivedCommand& c : m.robot->received_commands())
        if (c.kind == sim::ReceivedCommand::Kind::Command && c.text != "_SI") out.push_back(c.text);
    return out;
}

inline int count(const std::vector<std::string>& v, const std::string& s) {
    int n = 0;
    for (const auto& x : v) n += x == s;
    return n;
}

// Whether the module's log has this line (without its timestamp).
inline bool logged(sim::Autoloader& m, const std::string& line) { return count(m.log_texts(), line) > 0; }

// On the host's thread: polls a recorder's move as a host does until it reports done or aborted.
inline DWORD wait_move(LONG unit) {
    DWORD state;
    while ((state = Rovane_CheckMoveDisc(static_cast<DWORD>(unit))) == ROVANE_IN_PROGRESS) Sleep(500);
    return state;
}

// The laminator message of a printer dialog in a world without one, answered with Cancel, and
// the printer dialog confirmed as it opens.
inline void answer_printer_choice(sim::Autoloader& m) {
    m.world.op().on_message_box("Unable to communicate with the laminator").answer(IDCANCEL);
    m.world.op().on_dialog(122).click(IDOK);
}

// Runs the host's body and requires a clean run in which no disc was lost or duplicated.
template <class F>
void run_host(sim::Autoloader& m, F body) {
    m.world.load_module();
    m.world.spawn("host", body);
    const sim::RunResult r = m.world.run();
    ASSERT_TRUE(r.ok()) << r.report;
    EXPECT_EQ(m.check_invariants(false), "");
}

}  // namespace sim_test
