// A robot whose every reply the test decides: for checking the module's side of the serial link
// byte by byte (frames after garbage, bad checksums, silence, version lines); and the host's end
// of the cable to a robot, for driving the world's robot the way the module drives it.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "support/sim_test.h"
#include "win32/serial.h"
#include "world/world.h"

namespace sim_test {

// An 11-byte status frame with a correct checksum.
inline std::string status_frame(char state = 'I', char position = '4', char aux = '0', char error = '.',
                                char printer = 'B', char tray = 'X', char picker = 'X') {
    std::string f = {'S', 10, state, position, aux, error, printer, tray, picker};
    unsigned char sum = 0;
    for (char c : f) sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
    f += static_cast<char>(sum);
    f += '$';
    return f;
}

class ScriptedRobot : public sim::SerialDevice {
public:
    void attached(sim::SerialLine& line) override { line_ = &line; }
    void on_byte(uint8_t byte) override {
        received += static_cast<char>(byte);
        if (ends_with("_SI")) {
            ++status_queries;
            std::string reply = default_status;
            if (!status_replies.empty()) {
                reply = status_replies.front();
                status_replies.pop_front();
            }
            send_later(reply);
        } else if (ends_with("_SV")) {
            send_later(version_reply);
        }
    }
    // Sends bytes now, unasked (stale bytes for the next query).
    void send_now(const std::string& bytes) { line_->device_send(bytes); }

    std::string received;
    int status_queries = 0;
    std::string default_status = status_frame();
    std::deque<std::string> status_replies;  // replies to the next queries, then the default
    std::string version_reply = "ZORVIK QIX VERSION:R 1.13 A\r\n";
    sim::Micros reply_delay = 2 * sim::kMs;

private:
    bool ends_with(const char* s) const {
        const std::string t(s);
        return received.size() >= t.size() && received.compare(received.size() - t.size(), t.size(), t) == 0;
    }
    void send_later(const std::string& bytes) {
        if (bytes.empty()) return;  // silence
        sim::kernel().after(reply_delay, [this, bytes] { line_->device_send(bytes); });
    }
    sim::SerialLine* line_ = nullptr;
};

// Opens a port as the module's robot link does: 14400 8N1, reads that return at once.
inline HANDLE open_robot_port(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return h;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(h, &dcb));  // 8N1 already
    dcb.BaudRate = CBR_14400;
    COMMTIMEOUTS to{MAXDWORD, 0, 0, 10, 1000};
    EXPECT_TRUE(SetCommState(h, &dcb) && SetCommTimeouts(h, &to));
    return h;
}

inline unsigned checksum9(const std::string& f) {
    unsigned sum = 0;
    for (int i = 0; i < 9; ++i) sum += static_cast<uint8_t>(f[i]);
    return sum % 256;
}

// One status frame as the module decodes it: the last 11 bytes read.
struct RobotFrame {
    std::string raw;
    bool valid = false;
    char state = 0, position = 0, error = 0, printer = 0, tray = 0, picker = 0;
    // State, position, error and picker: "I3.O" is idle at home without an error, a disc held.
    std::string brief() const { return {state, position, error, picker}; }
};

inline RobotFrame decode(const std::string& raw) {
    RobotFrame fr{raw};
    if (raw.size() < 11) return fr;
    const std::string f = raw.substr(raw.size() - 11);
    // "S", 10, a known state, the checksum of bytes 0..8, "$".
    fr.valid = f[0] == 'S' && f[1] == 10 && std::string("IBWP").find(f[2]) != std::string::npos &&
               static_cast<uint8_t>(f[9]) == checksum9(f) && f[10] == '$';
    fr.state = f[2];
    fr.position = f[3];
    fr.error = f[5];
    fr.printer = f[6];
    fr.tray = f[7];
    fr.picker = f[8];
    return fr;
}

// The host's end of the cable to the robot on COM1, run from a simulated thread.
class RobotPort {
public:
    RobotPort() : h_(open_robot_port("COM1")) {}
    ~RobotPort() { CloseHandle(h_); }

    // One byte per write, as the module writes commands.
    void send(const std::string& command) {
        for (char c : command) {
            DWORD n = 0;
            EXPECT_TRUE(WriteFile(h_, &c, 1, &n, NULL));
        }
    }
    // Everything that arrives within `window`; with `frame`, stops early at a frame end.
    std::string read_for(sim::Micros window, bool frame = false) {
        const sim::Micros end = sim::kernel().now() + window;
        std::string got;
        while (sim::kernel().now() < end && !(frame && got.size() >= 11 && got.back() == '$')) {
            char c;
            DWORD n = 0;
            if (ReadFile(h_, &c, 1, &n, NULL) && n == 1) got += c;
        }
        return got;
    }
    std::string read_frame() { return read_for(100 * sim::kMs, true); }
    RobotFrame status() {
        read_for(1 * sim::kMs);
        send("_SI");
        return decode(read_frame());
    }
    // Polls the status every 50 ms until the robot reports `state`; *took: the time it took.
    RobotFrame wait_for(char state, sim::Micros* took = nullptr) {
        const sim::Micros start = sim::kernel().now();
        RobotFrame f = status();
        while (!(f.valid && f.state == state) && sim::kernel().now() - start < 30 * sim::kSecond) {
            Sleep(50);
            f = status();
        }
        if (took) *took = sim::kernel().now() - start;
        return f;
    }
    RobotFrame wait_idle(sim::Micros* took = nullptr) { return wait_for('I', took); }
    // Sends a motion command and waits for the robot to be idle again.
    RobotFrame run(const std::string& command) {
        send(command);
        return wait_idle();
    }
    // Moves to `from` and picks; then, when given, moves to `to` and drops.
    RobotFrame carry(const std::string& from, const std::string& to = "") {
        run("_MOVE:" + from);
        RobotFrame f = run("_PICK");
        if (to.empty()) return f;
        run("_MOVE:" + to);
        return run("_PICK");
    }

private:
    HANDLE h_;
};

}  // namespace sim_test
