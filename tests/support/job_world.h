// A world set up for a job: the virtual robot on COM1 (behind a cable that can lose commands),
// the host's engine with four recorders wired into the robot's positions A to D, and the module as
// start-up and job begin leave it: port open, recorder table of four rows mapped A-D with every
// tray closed, job state reset, first input bin.
//
//   sim_test::JobWorld w;
//   w.host([&] {
//       w.start_module();
//       Queue_Cmd("_MOVE:", NULL, 0); ...
//       StartSendThread();
//       sim_test::wait_for_send_thread();
//   });
//   ASSERT_TRUE(w.run().ok());
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/recorders.h"
#include "devices/robot.h"
#include "host/job_state.h"
#include "printer/printer_state.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/module_context.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/module_world.h"
#include "win32/serial.h"
#include "world/operator.h"
#include "world/world.h"

namespace sim_test {

// A serial cable that loses the next n occurrences of one command on the way to the device, as
// line noise would: none of its bytes arrive. Everything else passes unchanged.
class LossyCable : public sim::SerialDevice {
public:
    explicit LossyCable(std::shared_ptr<sim::SerialDevice> device) : device_(std::move(device)) {}

    void lose(const std::string& command, int times) {
        command_ = command;
        times_ = times;
    }
    int lost() const { return lost_; }

    void attached(sim::SerialLine& line) override { device_->attached(line); }
    void on_open() override { device_->on_open(); }
    void on_close() override { device_->on_close(); }
    uint32_t baud_rate() const override { return device_->baud_rate(); }
    void on_byte(uint8_t byte) override {
        if (times_ <= 0 || command_.empty()) {
            device_->on_byte(byte);
            return;
        }
        held_ += static_cast<char>(byte);
        if (command_.compare(0, held_.size(), held_) == 0) {
            if (held_.size() == command_.size()) {  // the whole command: lost
                held_.clear();
                --times_;
                ++lost_;
            }
            return;
        }
        // Not this command after all: pass on what was held, except a last byte that may start it.
        std::string pass = held_;
        held_.clear();
        if (pass.back() == command_[0]) {
            held_ = pass.substr(pass.size() - 1);
            pass.pop_back();
        }
        for (char c : pass) device_->on_byte(static_cast<uint8_t>(c));
    }

private:
    std::shared_ptr<sim::SerialDevice> device_;
    std::string command_;
    std::string held_;
    int times_ = 0;
    int lost_ = 0;
};

inline bool send_thread_running() {
    EnterCriticalSection(&g_csModule);
    const bool running = g_fSendQueueRunning != 0 || g_fSendThreadDone != 1;
    LeaveCriticalSection(&g_csModule);
    return running;
}

// On a simulated thread: returns once the send thread has ended.
inline void wait_for_send_thread() {
    while (send_thread_running()) Sleep(100);
}

inline bool job_aborted() {
    EnterCriticalSection(&g_csModule);
    const bool aborted = g_fJobAborted != 0;
    LeaveCriticalSection(&g_csModule);
    return aborted;
}

inline void abort_job_from_host() {
    EnterCriticalSection(&g_csModule);
    g_fJobAborted = 1;
    LeaveCriticalSection(&g_csModule);
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

    // A printer on the robot's auxiliary cable (its tray in), and chosen as the module's printer.
    void connect_printer(sim::Micros tray_move_time = 2 * sim::kSecond) {
        printer = std::make_shared<sim::SimplePrinter>(tray_move_time);
        robot->connect_printer(printer);
        g_fPrinterSelected = TRUE;
        snprintf(g_szPrinterName, sizeof g_szPrinterName, "%s", "Kestrel DiscPrint 100");
    }

    // On the host thread: what start-up and job begin leave behind.
    void start_module() {
        ASSERT_EQ(PortOpen("COM1", FALSE), 1);
        WORD model = 0;
        ASSERT_EQ(GetRoboVersion(1500, &model), 1);
        ASSERT_EQ(g_bRecorderCount, 4);
        static const char* const labels[4] = {"Duplicator RIGHT-TOP", "Duplicator LEFT-TOP", "Duplicator RIGHT-BOTTOM",
                                               "Duplicator LEFT-BOTTOM"};
        for (int i = 0; i < 4; ++i) {
            const sim::RecorderConfig& c = drive[i]->config();
            ASSERT_EQ(AddRecorder(c.unit, c.spare, c.host_adapter, c.target, c.letter, c.name.c_str()), i);
            AssignPosition(i, static_cast<char>('A' + i), labels[i]);
            g_Recorders[i].bTrayState = TRAY_STATE_CLOSED_EMPTY;
        }
        InitGlobals();
        g_bInputBinIndex = 0;
    }

    // On a simulated thread: returns once the robot has finished its motions, those it buffered
    // included (the abort sequence leaves them to the robot).
    void wait_until_robot_rests() {
        while (robot->busy() || !robot->buffered_commands().empty()) Sleep(100);
    }

    // Runs fn as the host's thread.
    void host(std::function<void()> fn) { world.spawn("host", std::move(fn)); }
    sim::RunResult run() { return world.run(); }

    std::vector<std::string> log() { return log_texts(world); }
    std::vector<std::string> second_log() { return log_texts(world, std::string(g_szLogPath) + "2"); }

    // The commands the robot received, in order, without the status and version queries.
    std::vector<std::string> robot_commands() const {
        std::vector<std::string> out;
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

    // Virtual times of the module's tray calls for one unit (1 to 4): open (direction 1) or close.
    std::vector<sim::Micros> tray_calls(LONG unit, bool open) {
        const std::string prefix = "DQ_OpenCloseTray(0, " + std::to_string(unit) + ", " + (open ? "1" : "2") + ")";
        std::vector<sim::Micros> out;
        for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("recorder"))
            if (e.text.compare(0, prefix.size(), prefix) == 0) out.push_back(e.time_us);
        return out;
    }

    // Status message dialogs shown during the run.
    int status_dialogs_shown() {
        int n = 0;
        for (const sim::TranscriptEntry& e : world.kernel().transcript().of_kind("window"))
            if (e.text.rfind("dialog 117 shown ", 0) == 0) ++n;
        return n;
    }
};

// Runs `action` on the scheduler as soon as `condition` holds, looking every `every` of virtual
// time (for faults that must strike between two steps of the module, e.g. right after a pick).
inline void when(std::function<bool()> condition, std::function<void()> action, sim::Micros every = sim::kMs) {
    sim::kernel().after(every, [condition, action, every] {
        if (condition())
            action();
        else
            when(condition, action, every);
    });
}

// Index of the first line equal to text at or after `from`, or -1.
inline int find_line(const std::vector<std::string>& lines, const std::string& text, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i] == text) return static_cast<int>(i);
    return -1;
}

}  // namespace sim_test
