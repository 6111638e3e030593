#include "win32/serial.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "world/world.h"

namespace sim {

// The object behind an open serial port handle.
struct SerialPortObject : StreamObject {
    SerialLine* line = nullptr;
    const char* type_name() const override { return "serial"; }
    uint32_t read(void* buffer, uint32_t n, uint32_t* done) override {
        return line->host_read(static_cast<uint8_t*>(buffer), n, done);
    }
    uint32_t write(const void* buffer, uint32_t n, uint32_t* done) override {
        return line->host_write(static_cast<const uint8_t*>(buffer), n, done);
    }
    bool on_close() override {
        line->flush_note();
        line->open_ = false;
        line->reader_ = nullptr;
        kernel().record("serial", "close " + line->name());
        if (line->device_) line->device_->on_close();
        return true;
    }
};

namespace {

// The bytes a device sees when the two ends disagree on the line speed.
uint8_t garble(uint8_t b) { return static_cast<uint8_t>(b * 7u + 13u) | 0x80u; }

constexpr Micros kNoteGap = 5 * kMs;  // a pause that ends one transcript line of serial bytes


}  // namespace

bool parse_port_name(const std::string& name, std::string* port) {
    std::string s = name;
    if (s.size() > 4 && s.compare(0, 4, "\\\\.\\") == 0) s = s.substr(4);
    if (s.size() != 4) return false;
    if (std::toupper(static_cast<unsigned char>(s[0])) != 'C' || std::toupper(static_cast<unsigned char>(s[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(s[2])) != 'M' || s[3] < '1' || s[3] > '9')
        return false;
    *port = std::string("COM") + s[3];
    return true;
}

Micros SerialLine::byte_time() const {
    const uint32_t baud = dcb_.BaudRate ? dcb_.BaudRate : 9600;
    const unsigned bits = 1u + dcb_.ByteSize + (dcb_.Parity ? 1u : 0u) + (dcb_.StopBits == TWOSTOPBITS ? 2u : 1u);
    return std::max<Micros>(1, static_cast<Micros>(bits) * kSecond / baud);
}

void SerialLine::note(bool to_device, uint8_t byte) {
    Kernel& k = kernel();
    if (!note_bytes_.empty() && (to_device != note_to_device_ || k.now() > note_last_ + kNoteGap)) flush_note();
    if (note_bytes_.empty()) {
        note_to_device_ = to_device;
        note_start_ = k.now();
    }
    note_bytes_.push_back(static_cast<char>(byte));
    note_last_ = k.now();
    // The line ends kNoteGap after its last byte, unless another byte comes first. An event per
    // byte would say so, all but the last finding a later byte and doing nothing; one event
    // does, moved on to the last byte's time and place whenever it finds a later byte, so it
    // runs exactly where the last byte's own would have run.
    note_place_ = k.take_place();
    if (!note_watched_) {
        note_watched_ = true;
        watch_note_end(note_place_);
    }
}

void SerialLine::watch_note_end(uint64_t place) {
    kernel().at_place(note_last_ + kNoteGap + 1, place, [this, place] {
        if (place != note_place_) {
            watch_note_end(note_place_);
            return;
        }
        note_watched_ = false;
        flush_note();
    });
}

void SerialLine::flush_note() {
    if (note_bytes_.empty()) return;
    static const std::string kQuote = "\"";
    kernel().transcript().add(note_start_, name_, note_to_device_ ? "serial>" : "serial<",
                              Transcript::escape_between(kQuote, note_bytes_.data(), note_bytes_.size(), "\""));
    note_bytes_.clear();
}

void SerialLine::device_send(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    Kernel& k = kernel();
    const Micros bt = byte_time();
    const bool mismatch = device_ && device_->baud_rate() != dcb_.BaudRate;
    for (size_t i = 0; i < n; ++i) {
        const Micros start = std::max(k.now(), rx_free_at_);
        rx_free_at_ = start + bt;
        const uint8_t b = mismatch ? garble(p[i]) : p[i];
        k.at(rx_free_at_, [this, b] { arrive_at_host(b); });
    }
}

void SerialLine::arrive_at_host(uint8_t byte) {
    if (!open_) return;                            // nobody listens: the byte is lost
    if (rx_.size() >= kReceiveBufferSize) return;  // driver buffer overrun
    rx_.push_back(byte);
    note(false, byte);
    if (reader_) kernel().wake(reader_);
}

// Injected serial faults. The sweep's fail with ERROR_GEN_FAILURE, the error a USB serial
// adapter's driver gives when the adapter stops answering (a lasting fault is the adapter gone for
// good); a port's own write counter (fail_writes) with its error. Nothing is transferred: a failed
// read leaves the received bytes in the buffer for the next read, a failed write sends nothing.
// The sweep's failure still takes the time of a read that finds nothing, so that a loop retrying
// it sees the clock move. The common case (no counter fails the call) is the one test inline.
bool SerialLine::injected_fault(FaultCounters& family, const char* call, DWORD* error) {
    FaultCounter* counter = family.ask(name_);
    return counter && fault_fired(family, *counter, call, error);
}

bool SerialLine::fault_fired(FaultCounters& family, FaultCounter& counter, const char* call, DWORD* error) {
    const Injected f = injected(family, counter, std::string(call) + " on " + name_, ERROR_GEN_FAILURE);
    *error = static_cast<DWORD>(f.error);
    Kernel& k = kernel();
    if (f.counter->told_by_call())
        k.record("serial", "write fault on " + name_);
    else
        k.sleep_for(k.config().empty_read_cost, call);
    return true;
}

void SerialLine::fail_writes(int count, DWORD error) {
    FaultCounter& c = world_.call_faults().serial_write.counter(name_);
    c.set_error(static_cast<long>(error));
    c.set_told_by_call(true);
    c.arm_next(count);
}

uint32_t SerialLine::host_write(const uint8_t* buffer, uint32_t n, uint32_t* done) {
    *done = 0;
    DWORD error = 0;
    if (injected_fault(world_.call_faults().serial_write, "WriteFile (serial)", &error)) return error;
    Kernel& k = kernel();
    const Micros bt = byte_time();
    const bool mismatch = device_ && device_->baud_rate() != dcb_.BaudRate;
    for (uint32_t i = 0; i < n; ++i) {
        const Micros start = std::max(k.now(), tx_free_at_);
        tx_free_at_ = start + bt;
        const uint8_t b = mismatch ? garble(buffer[i]) : buffer[i];
        note(true, buffer[i]);
        std::shared_ptr<SerialDevice> device = device_;
        k.at(tx_free_at_, [device, b] {
            if (device) device->on_byte(b);
        });
    }
    // The write returns once the last byte has left the port.
    if (tx_free_at_ > k.now()) k.sleep_for(tx_free_at_ - k.now(), "WriteFile (serial)");
    *done = n;
    return 0;
}

uint32_t SerialLine::host_read(uint8_t* buffer, uint32_t n, uint32_t* done) {
    *done = 0;
    if (n == 0) return 0;
    DWORD error = 0;
    if (injected_fault(world_.call_faults().serial_read, "ReadFile (serial)", &error)) return error;
    if (!rx_.empty()) take_received(buffer, n, done);
    const COMMTIMEOUTS& to = timeouts_;
    if (to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0) {
        // Returns at once with what has arrived. A read that finds nothing still costs a
        // little time, so that a loop polling the port sees the clock move.
        if (*done == 0) {
            Kernel& k = kernel();
            k.sleep_for(k.config().empty_read_cost, "ReadFile (serial, nothing arrived)");
        }
        return 0;
    }
    return wait_for_bytes(buffer, n, done);
}

void SerialLine::take_received(uint8_t* buffer, uint32_t n, uint32_t* done) {
    while (*done < n && !rx_.empty()) {
        buffer[(*done)++] = rx_.front();
        rx_.pop_front();
    }
}

// A read with time-outs: waits for bytes as the port's COMMTIMEOUTS say.
uint32_t SerialLine::wait_for_bytes(uint8_t* buffer, uint32_t n, uint32_t* done) {
    Kernel& k = kernel();
    const COMMTIMEOUTS& to = timeouts_;
    // "Return as soon as anything arrives, or after the constant": interval and multiplier
    // both MAXDWORD.
    const bool any_byte = to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == MAXDWORD &&
                          to.ReadTotalTimeoutConstant > 0 && to.ReadTotalTimeoutConstant < MAXDWORD;
    if (any_byte && *done > 0) return 0;
    bool has_total = false;
    Micros total_deadline = 0;
    if (any_byte) {
        has_total = true;
        total_deadline = k.now() + static_cast<Micros>(to.ReadTotalTimeoutConstant) * kMs;
    } else if (to.ReadTotalTimeoutMultiplier || to.ReadTotalTimeoutConstant) {
        has_total = true;
        total_deadline = k.now() + (static_cast<Micros>(to.ReadTotalTimeoutMultiplier) * n +
                                    static_cast<Micros>(to.ReadTotalTimeoutConstant)) * kMs;
    }
    const bool has_interval = !any_byte && to.ReadIntervalTimeout > 0 && to.ReadIntervalTimeout != MAXDWORD;
    Micros last_byte = k.now();
    const std::string call = "ReadFile (" + name_ + ")";
    while (*done < n) {
        bool has_deadline = has_total;
        Micros deadline = total_deadline;
        if (has_interval && *done > 0) {
            const Micros interval_deadline = last_byte + static_cast<Micros>(to.ReadIntervalTimeout) * kMs;
            deadline = has_deadline ? std::min(deadline, interval_deadline) : interval_deadline;
            has_deadline = true;
        }
        reader_ = k.current();
        const bool woken = k.block(call, has_deadline ? &deadline : nullptr);
        reader_ = nullptr;
        const uint32_t before = *done;
        take_received(buffer, n, done);
        if (*done > before) last_byte = k.now();
        if (any_byte && *done > 0) break;
        if (!woken) break;  // a time-out: the read succeeds with what it has
    }
    return 0;
}

SerialBus::SerialBus(World& world) : world_(world) {
    // Bytes still gathered for the transcript when a run returns are written out then.
    world.kernel().on_run_end([this] {
        for (auto& [name, line] : lines_) line->flush_note();
    });
}
SerialBus::~SerialBus() = default;

SerialLine& SerialBus::attach(const std::string& port, std::shared_ptr<SerialDevice> device) {
    std::string name;
    if (!parse_port_name(port, &name)) name = port;
    auto& slot = lines_[name];
    if (!slot) slot = std::make_unique<SerialLine>(world_, name);
    slot->device_ = std::move(device);
    if (slot->device_) slot->device_->attached(*slot);
    return *slot;
}

void SerialBus::detach(const std::string& port) {
    if (SerialLine* l = line(port)) l->device_.reset();
}

SerialLine* SerialBus::line(const std::string& port) {
    std::string name;
    if (!parse_port_name(port, &name)) name = port;
    auto it = lines_.find(name);
    return it == lines_.end() ? nullptr : it->second.get();
}

void SerialBus::fail_open(const std::string& port, DWORD error, int count) {
    std::string name;
    if (!parse_port_name(port, &name)) name = port;
    FaultCounter& c = open_faults_.counter(name);
    c.set_error(static_cast<long>(error));
    c.set_told_by_call(true);
    c.arm_next(count);
}

HANDLE SerialBus::open(const std::string& port, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    (void)access;
    (void)share;
    Kernel& k = world_.kernel();
    std::string name;
    parse_port_name(port, &name);
    if (const Injected fault = inject(open_faults_, name, "CreateFileA " + name, ERROR_GEN_FAILURE)) {
        k.record("serial", "open " + name + " refused (error " + std::to_string(fault.error) + ")");
        SetLastError(static_cast<DWORD>(fault.error));
        return INVALID_HANDLE_VALUE;
    }
    SerialLine* l = line(name);
    if (!l || !l->device_) {
        k.record("serial", "open " + name + " failed: no device");
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (l->open_) {
        k.record("serial", "open " + name + " failed: already open");
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING || (flags & FILE_FLAG_OVERLAPPED)) {
        // Communication devices must be opened with OPEN_EXISTING; overlapped I/O is not
        // part of the subset.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    l->open_ = true;
    l->rx_.clear();
    l->dcb_ = DCB{};
    l->dcb_.DCBlength = sizeof(DCB);
    l->dcb_.BaudRate = 9600;
    l->dcb_.fBinary = 1;
    l->dcb_.fDtrControl = DTR_CONTROL_ENABLE;
    l->dcb_.fRtsControl = RTS_CONTROL_ENABLE;
    l->dcb_.XonLim = 2048;
    l->dcb_.XoffLim = 512;
    l->dcb_.ByteSize = 8;
    l->dcb_.Parity = NOPARITY;
    l->dcb_.StopBits = ONESTOPBIT;
    l->dcb_.XonChar = 0x11;
    l->dcb_.XoffChar = 0x13;
    l->timeouts_ = COMMTIMEOUTS{};
    auto object = std::make_shared<SerialPortObject>();
    object->line = l;
    HANDLE h = world_.handles().add(object);
    k.record("serial", "open " + name);
    l->device_->on_open();
    // CreateFile clears the last error when it opens what already existed without OPEN_ALWAYS.
    SetLastError(ERROR_SUCCESS);
    return h;
}

}  // namespace sim


extern "C" {

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) {
    sim::enter_call("GetCommState");
    auto port = sim::world().handles().get<sim::SerialPortObject>(hFile);
    if (!port || !lpDCB) {
        SetLastError(port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpDCB = port->line->dcb();
    lpDCB->DCBlength = sizeof(DCB);
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
    sim::enter_call("SetCommState");
    auto port = sim::world().handles().get<sim::SerialPortObject>(hFile);
    if (!port || !lpDCB) {
        SetLastError(port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::SerialLine* l = port->line;
    if (l->set_state_faults_.should_fail()) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (lpDCB->BaudRate == 0 || lpDCB->ByteSize < 5 || lpDCB->ByteSize > 8 || lpDCB->Parity > 4 ||
        lpDCB->StopBits > TWOSTOPBITS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    l->dcb_ = *lpDCB;
    static const char parity[] = "NOEMS";
    sim::kernel().record("serial", "SetCommState " + l->name() + " " + std::to_string(lpDCB->BaudRate) + " " +
                                       std::to_string(lpDCB->ByteSize) + parity[lpDCB->Parity] +
                                       (lpDCB->StopBits == ONESTOPBIT ? "1" : lpDCB->StopBits == TWOSTOPBITS ? "2" : "1.5"));
    return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    sim::enter_call("GetCommTimeouts");
    auto port = sim::world().handles().get<sim::SerialPortObject>(hFile);
    if (!port || !lpCommTimeouts) {
        SetLastError(port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpCommTimeouts = port->line->timeouts();
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    sim::enter_call("SetCommTimeouts");
    auto port = sim::world().handles().get<sim::SerialPortObject>(hFile);
    if (!port || !lpCommTimeouts) {
        SetLastError(port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::SerialLine* l = port->line;
    if (l->set_timeouts_faults_.should_fail()) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    l->timeouts_ = *lpCommTimeouts;
    return TRUE;
}

}  // extern "C"
