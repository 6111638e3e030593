// Serial ports of the simulated world: COM1..COM9, each with a cable to a device model.
//
// Bytes travel at the line speed the host configured (10 bit times a byte for 8N1: at 14400
// baud one byte takes about 0.69 ms). A write blocks the writer until its last byte has left the
// port; bytes from the device arrive one by one in the port's receive buffer (4096 bytes, as a
// typical driver; more is lost). A device whose speed differs from the port's receives and sends
// garbage, as on a real line. The world's serial read and write counters (CallFaults) may fail a
// read or a write with ERROR_GEN_FAILURE, or with the error a port's own write counter names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "kernel/fault_counter.h"
#include "kernel/kernel.h"

namespace sim {

class World;
class SerialLine;

// A device at the far end of a serial cable (the robot, in later issues).
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // The device is plugged in; keep `line` to send bytes back.
    virtual void attached(SerialLine& line) { (void)line; }
    // A byte from the host has arrived (runs in a kernel event at its arrival time).
    virtual void on_byte(uint8_t byte) = 0;
    // The host opened / closed the port.
    virtual void on_open() {}
    virtual void on_close() {}
    // Line speed the device talks at.
    virtual uint32_t baud_rate() const { return 14400; }
};

class SerialLine {
public:
    SerialLine(World& world, std::string name) : world_(world), name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    SerialDevice* device() const { return device_.get(); }
    bool is_open() const { return open_; }
    const DCB& dcb() const { return dcb_; }
    const COMMTIMEOUTS& timeouts() const { return timeouts_; }
    // Virtual time one byte takes at the port's configured speed (8N1: 10 bits).
    Micros byte_time() const;
    // Bytes in the receive buffer, not yet read by the host.
    size_t pending() const { return rx_.size(); }

    // Device side: sends bytes to the host. They arrive one after another at line speed,
    // after whatever the device sent before. Bytes arriving while the port is closed are lost.
    void device_send(const void* data, size_t n);
    void device_send(const std::string& s) { device_send(s.data(), s.size()); }

    // Fault injection: the next `count` writes fail with `error` (count < 0: all; 0: none). The
    // port's counter in the world's serial write family (CallFaults), after the one for every port.
    void fail_writes(int count, DWORD error = ERROR_GEN_FAILURE);
    // The next `count` SetCommState / SetCommTimeouts calls fail with ERROR_GEN_FAILURE.
    void fail_set_state(int count) { set_state_faults_.arm_next(count); }
    void fail_set_timeouts(int count) { set_timeouts_faults_.arm_next(count); }

private:
    friend class SerialBus;
    friend struct SerialPortObject;
    friend BOOL(::SetCommState)(HANDLE, LPDCB);  // parenthesised: clang reads "BOOL ::X" as "BOOL::X"
    friend BOOL(::SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);

    uint32_t host_read(uint8_t* buffer, uint32_t n, uint32_t* done);
    uint32_t host_write(const uint8_t* buffer, uint32_t n, uint32_t* done);
    void take_received(uint8_t* buffer, uint32_t n, uint32_t* done);
    uint32_t wait_for_bytes(uint8_t* buffer, uint32_t n, uint32_t* done);
    bool injected_fault(FaultCounters& family, const char* call, DWORD* error);
    bool fault_fired(FaultCounters& family, FaultCounter& counter, const char* call, DWORD* error);
    void arrive_at_host(uint8_t byte);
    void note(bool to_device, uint8_t byte);
    void flush_note();
    void watch_note_end(uint64_t place);

    World& world_;
    std::string name_;
    std::shared_ptr<SerialDevice> device_;
    bool open_ = false;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    std::deque<uint8_t> rx_;
    Micros tx_free_at_ = 0;  // host -> device wire busy until
    Micros rx_free_at_ = 0;  // device -> host wire busy until
    SimThread* reader_ = nullptr;
    FaultCounter set_state_faults_;
    FaultCounter set_timeouts_faults_;
    // Transcript: consecutive bytes in one direction are gathered into one line.
    std::string note_bytes_;
    bool note_to_device_ = false;
    Micros note_start_ = 0;
    Micros note_last_ = 0;
    // The pause that ends a line is watched by one queued event at a time, which takes the place
    // among the events of the last byte's own (see note()).
    uint64_t note_place_ = 0;
    bool note_watched_ = false;

    static constexpr size_t kReceiveBufferSize = 4096;
};

class SerialBus {
public:
    explicit SerialBus(World& world);
    ~SerialBus();

    // Plugs a device into a port ("COM1".."COM9"). Replaces what was there.
    SerialLine& attach(const std::string& port, std::shared_ptr<SerialDevice> device);
    // Unplugs it: opening the port then fails with ERROR_FILE_NOT_FOUND.
    void detach(const std::string& port);
    SerialLine* line(const std::string& port);

    // Fault injection: the next `count` opens of the port fail with `error` (count < 0: all; 0:
    // none).
    void fail_open(const std::string& port, DWORD error, int count = 1);

    // CreateFileA for "COMn" and "\\.\COMn".
    HANDLE open(const std::string& port, DWORD access, DWORD share, DWORD disposition, DWORD flags);

private:
    World& world_;
    std::map<std::string, std::unique_ptr<SerialLine>> lines_;
    FaultCounters open_faults_;  // by port, "COMn"
};

// True when `name` names a serial port (COM1..COM9, with or without "\\.\"); sets *port to
// "COMn".
bool parse_port_name(const std::string& name, std::string* port);

}  // namespace sim
