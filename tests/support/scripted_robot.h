// A robot whose every reply the test decides: for checking the module's side of the serial link
// byte by byte (frames after garbage, bad checksums, silence, version lines).
#pragma once

#include <deque>
#include <string>

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

}  // namespace sim_test
