// A world set up for a job: the virtual robot on COM1 (behind a cable that can lose commands),
// four recorders wired into the robot's positions A to D, and, after start_module() on the host
// thread, the module as start-up and job begin leave it: port open, recorders A-D in rows 0-3
// with every tray closed, job state reset, first input bin.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "devices/robot.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "host/job_reset.h"
#include "printer/printer_state.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/module_state.h"
#include "support/module_world.h"
#include "win32/serial.h"
#include "world/operator.h"
#include "world/world.h"

namespace sim_test {

// The tests of a JobWorld say `using namespace sim_test;` and have these with it.
using sim::kMs;
using sim::kSecond;
using sim::Micros;
using Commands = std::vector<std::string>;

// A serial cable that loses the next n occurrences of one command, as line noise would: none of
// its bytes arrive. Everything else passes unchanged.
class LossyCable : public sim::SerialDevice {
public:
    explicit LossyCable(std::shared_ptr<sim::SerialDevice> device) : device_(std::move(device)) {}
    void lose(const std::string& command, int times) { command_ = command, times_ = times; }
    int lost() const { return lost_; }

    void attached(sim::SerialLine& line) override { device_->attached(line); }
    void on_open() override { device_->on_open(); }
    void on_close() override { device_->on_close(); }
    uint32_t baud_rate() const override { return device_->baud_rate(); }
    void on_byte(uint8_t byte) override {
        held_ += static_cast<char>(byte);
        if (times_ > 0 && command_.compare(0, held_.size(), held_) == 0) {
            if (held_ == command_) held_.clear(), --times_, ++lost_;
            return;
        }
        std::string pass;  // not this command after all; its first byte may follow
        pass.swap(held_);
        if (times_ > 0 && pass.size() > 1 && pass.back() == command_[0]) held_ = pass.back(), pass.pop_back();
        for (char c : pass) device_->on_byte(static_cast<uint8_t>(c));
    }

private:
    std::shared_ptr<sim::SerialDevice> device_;
    std::string command_, held_;
    int times_ = 0, lost_ = 0;
};

inline sim::Micros now() { return sim::kernel().now(); }

// On a simulated thread: returns once the send thread has ended.
inline void wait_for_send_thread() {
    for (;;) {
        EnterCriticalSection(&g_csModule);
        const bool running = g_fSendQueueRunning != 0 || g_fSendThreadDone != 1;
        LeaveCriticalSection(&g_csModule);
        if (!running) return;
        Sleep(100);
    }
}

inline bool job_aborted() {
    EnterCriticalSection(&g_csModule);
    const bool aborted = g_fJobAborted != 0;
    LeaveCriticalSection(&g_csModule);
    return aborted;
}

// The queue entries that carry one disc from `from` (NULL: the input bin in use) to `to`.
inline void queue_fetch(const char* from, const char* to) {
    Queue_Cmd("_MOVE:", from, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    Queue_Cmd("_MOVE:", to, 0);
    Queue_Cmd("DROPOFF", NULL, 0);
}

struct JobWorld {
    sim::World world;
    std::shared_ptr<sim::Robot> robot;
    std::shared_ptr<LossyCable> cable;
    std::unique_ptr<sim::HostEngine> engine;
    std::shared_ptr<sim::RecorderDevice> drive[4];  // at A, B, C, D; units 1 to 4, rows 0 to 3
    std::shared_ptr<sim::SimplePrinter> printer;     // after connect_printer()

    explicit JobWorld(uint64_t fallback_seed = 1, const sim::RobotConfig& robot_config = sim::RobotConfig())
        : world(config(fallback_seed)) {
        prepare_module(world);
        robot = std::make_shared<sim::Robot>(robot_config);
        cable = std::make_shared<LossyCable>(robot);
        world.serial().attach("COM1", cable);
        engine = std::make_unique<sim::HostEngine>(world);
        for (int i = 0; i < 4; ++i) {
            drive[i] = engine->add_recorder(
                sim::RecorderConfig::external(i + 1, static_cast<char>('E' + i), "SN-DRIVE-" + std::to_string(i + 1)));
            robot->connect_recorder(static_cast<char>('A' + i), drive[i]);
        }
    }

    // A printer on the robot's auxiliary cable (its tray in), chosen as the module's printer.
    void connect_printer() {
        printer = std::make_shared<sim::SimplePrinter>(2 * sim::kSecond);
        robot->connect_printer(printer);
        with_printer_chosen("Kestrel DiscPrint 100");
    }

    // On the host thread: what start-up and job begin leave behind.
    void start_module() {
        ASSERT_EQ(PortOpen("COM1", FALSE), 1);
        WORD model = 0;
        ASSERT_EQ(GetRoboVersion(1500, &model), 1);
        ASSERT_EQ(g_bRecorderCount, 4);
        for (int i = 0; i < 4; ++i) {
            const sim::RecorderConfig& c = drive[i]->config();
            ASSERT_EQ(AddRecorder(c.unit, c.spare, c.host_adapter, c.target, c.letter, c.name.c_str()), i);
            AssignPosition(i, static_cast<char>('A' + i), ("Duplicator " + std::to_string(i + 1)).c_str());
            with_tray_state(i, TRAY_STATE_CLOSED_EMPTY);
        }
        InitGlobals();
        with_input_bin(0);
    }

    // On the host thread: a disc waiting inside drive A with its tray closed, as a recording
    // leaves it.
    void recorded_disc_in_a() {
        drive[0]->set_tray_now(true);
        ASSERT_NE(robot->place_new_disc('A'), 0u);
        drive[0]->set_tray_now(false);
        with_tray_state(0, TRAY_STATE_CLOSED_WITH_DISC);
    }

    // On a simulated thread: returns once the robot has finished its motions, those it buffered
    // included (the abort sequence leaves them to the robot).
    void wait_until_robot_rests() {
        while (robot->busy() || !robot->buffered_commands().empty()) Sleep(100);
    }

    void host(std::function<void()> fn) { world.spawn("host", std::move(fn)); }
    // A job on the host thread: start-up's state, then `queue` sets the scene and fills the queues,
    // and the send thread plays them to its end (with `rest`, the robot's buffered motions too).
    ::testing::AssertionResult ran_job(std::function<void()> queue, bool rest = false) {
        host([this, queue, rest] {
            start_module();
            queue();
            StartSendThread(NULL);
            wait_for_send_thread();
            if (rest) wait_until_robot_rests();
        });
        return ran();
    }
    ::testing::AssertionResult ran() {
        const sim::RunResult r = world.run();
        return r.ok() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << r.report;
    }
    std::vector<std::string> log() { return log_texts(world); }

    // The commands the robot received, in order, without the status and version queries.
    Commands robot_commands() const {
        Commands out;
        for (const sim::ReceivedCommand& c : robot->received_commands())
            if (c.kind == sim::ReceivedCommand::Kind::Command && c.text != "_SI" && c.text != "_SV") out.push_back(c.text);
        return out;
    }
    // When the robot received the n-th (0-based) occurrence of a command; 0 when it never did.
    sim::Micros robot_command_time(const std::string& text, int n = 0) const {
        for (const sim::ReceivedCommand& c : robot->received_commands())
            if (c.kind == sim::ReceivedCommand::Kind::Command && c.text == text && n-- == 0) return c.time;
        return 0;
    }

    // Virtual times of the module's tray calls for one unit (1 to 4): open or close.
    std::vector<sim::Micros> tray_calls(LONG unit, bool open) {
        const std::string prefix = "DQ_OpenCloseTray(0, " + std::to_string(unit) + ", " + (open ? "1" : "2") + ")";
        std::vector<sim::Micros> out;
        for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("recorder"))
            if (e.text.compare(0, prefix.size(), prefix) == 0) out.push_back(e.time_us);
        return out;
    }

    int status_dialogs_shown() {
        int n = 0;
        for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("window"))
            if (e.text.rfind("dialog 117 shown ", 0) == 0) ++n;
        return n;
    }
};

// Runs `action` on the scheduler as soon as `condition` holds, looking every millisecond of
// virtual time (for faults that must strike between two steps of the module).
inline void when(std::function<bool()> condition, std::function<void()> action) {
    sim::kernel().after(sim::kMs, [condition, action] { condition() ? action() : when(condition, action); });
}

}  // namespace sim_test
