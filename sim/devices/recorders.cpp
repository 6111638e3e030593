#include "devices/recorders.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "win32/components.h"
#include "world/world.h"

namespace sim {

namespace {

// The engine the library functions reach: the one created last in this process's world.
HostEngine* g_engine = nullptr;

std::string hex32(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
    return b;
}

std::string hex16(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%04X", v & 0xFFFF);
    return b;
}

std::string bytes_text(const BYTE* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", static_cast<unsigned>(p[i]));
        if (i) s += ' ';
        s += b;
    }
    return s;
}

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// One feature descriptor of a GET CONFIGURATION reply.
void add_feature(std::vector<BYTE>& out, WORD code, bool persistent, bool current, const std::vector<BYTE>& data) {
    out.push_back(static_cast<BYTE>(code >> 8));
    out.push_back(static_cast<BYTE>(code & 0xFF));
    out.push_back(static_cast<BYTE>((persistent ? 2 : 0) | (current ? 1 : 0)));  // version 0
    out.push_back(static_cast<BYTE>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

const WORD kProfileDvdRSequential = 0x0011;
const WORD kProfileCdRom = 0x0008;
const WORD kSerialFeature = 0x0108;

}  // namespace

// ---------------------------------------------------------------------------------------------
// The recorder

RecorderConfig RecorderConfig::external(LONG unit, char letter, const std::string& serial) {
    RecorderConfig c;
    c.unit = unit;
    c.letter = letter;
    c.host_adapter = 4;
    c.target = unit;
    c.sdk_serial = serial;
    c.storage_serial = serial;
    return c;
}

const char* tray_state_name(TrayState s) {
    switch (s) {
        case TrayState::Closed: return "closed";
        case TrayState::Opening: return "opening";
        case TrayState::Open: return "open";
        case TrayState::Closing: return "closing";
    }
    return "?";
}

RecorderDevice::RecorderDevice(const RecorderConfig& config)
    : config_(config), tray_(config.tray_open ? TrayState::Open : TrayState::Closed) {}

RecorderDevice::~RecorderDevice() = default;

void RecorderDevice::note(const std::string& text) const {
    if (has_kernel()) kernel().record("recorder", text);
}

std::string RecorderDevice::move_tray(bool open) {
    const TrayState still = open ? TrayState::Open : TrayState::Closed;
    const TrayState going = open ? TrayState::Opening : TrayState::Closing;
    if (tray_ == still) return std::string("already ") + tray_state_name(still);
    if (tray_ == going) return std::string("already ") + tray_state_name(going);
    const Micros now = kernel().now();
    Micros duration = config_.tray_move_time;
    std::string how = tray_state_name(going);
    if (tray_moving()) {
        // Turned round: back the way it came, as far as it had got.
        duration = std::min(now - move_started_, move_duration_);
        how += " (turned round)";
    }
    tray_ = going;
    move_started_ = now;
    move_duration_ = duration;
    ++movements_;
    const uint64_t serial = ++move_serial_;
    std::weak_ptr<int> alive = alive_;
    kernel().after(duration, [this, alive, serial, still] {
        if (alive.expired() || serial != move_serial_) return;
        tray_ = still;
        note("unit " + std::to_string(config_.unit) + " tray " + tray_state_name(still) +
             (disc_ ? " (disc " + std::to_string(disc_->id) + " inside)" : std::string()));
    });
    return how;
}

void RecorderDevice::set_tray_now(bool open) {
    ++move_serial_;
    tray_ = open ? TrayState::Open : TrayState::Closed;
    note("world: unit " + std::to_string(config_.unit) + " tray " + tray_state_name(tray_));
}

bool RecorderDevice::mark_recorded() {
    if (!disc_) return false;
    disc_->recorded = true;
    return true;
}

bool RecorderDevice::can_accept(std::string* why) const {
    if (tray_moving()) return refuse(why, "tray moving");
    if (tray_ == TrayState::Closed) return refuse(why, "tray closed");
    if (disc_) return refuse(why, "tray holds a disc");
    return true;
}

void RecorderDevice::put(const Disc& disc) { disc_ = disc; }

std::optional<Disc> RecorderDevice::take(std::string* why) {
    if (tray_moving()) {
        refuse(why, "tray moving");
        return std::nullopt;
    }
    if (tray_ == TrayState::Closed) {
        refuse(why, "tray closed");
        return std::nullopt;
    }
    return take_single(disc_, why);
}

std::vector<Disc> RecorderDevice::discs() const { return single_as_list(disc_); }

std::optional<std::vector<BYTE>> RecorderDevice::configuration_reply(int request_type, WORD starting_feature) const {
    if (!config_.sdk_serial && config_.missing_serial == MissingSerial::CommandFails &&
        (request_type == 2 ? starting_feature == kSerialFeature : starting_feature <= kSerialFeature))
        return std::nullopt;
    const bool loaded = disc_.has_value();
    struct Feature {
        WORD code;
        bool persistent, current;
        std::vector<BYTE> data;
    };
    std::vector<Feature> features;
    // Profile list: DVD-R sequential and CD-ROM; the loaded disc's profile is current.
    features.push_back({0x0000, true, true,
                        {0x00, static_cast<BYTE>(kProfileDvdRSequential), static_cast<BYTE>(loaded ? 1 : 0), 0x00,
                         0x00, static_cast<BYTE>(kProfileCdRom), 0x00, 0x00}});
    features.push_back({0x0001, true, true, {0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}});  // core, ATAPI
    features.push_back({0x0003, true, true, {0x29, 0x00, 0x00, 0x00}});  // removable medium: tray, eject
    features.push_back({0x001F, false, loaded, {0x00, 0x00, 0x00, 0x00}});  // DVD read
    if (config_.sdk_serial) {
        std::string serial = config_.sdk_serial->substr(0, 252);
        while (serial.size() % 4) serial += ' ';
        features.push_back({kSerialFeature, true, true, std::vector<BYTE>(serial.begin(), serial.end())});
    }
    features.push_back({0x010B, false, loaded, {0x00, 0x00, 0x00, 0x01}});  // DVD CPRM

    std::vector<BYTE> out(8, 0);
    for (const Feature& f : features) {
        const bool wanted = request_type == 2 ? f.code == starting_feature
                                              : f.code >= starting_feature && (request_type == 0 || f.current);
        if (wanted) add_feature(out, f.code, f.persistent, f.current, f.data);
    }
    const DWORD length = static_cast<DWORD>(out.size() - 4);
    out[0] = static_cast<BYTE>(length >> 24);
    out[1] = static_cast<BYTE>(length >> 16);
    out[2] = static_cast<BYTE>(length >> 8);
    out[3] = static_cast<BYTE>(length);
    out[6] = 0;
    out[7] = static_cast<BYTE>(loaded ? kProfileDvdRSequential : 0);
    return out;
}

// ---------------------------------------------------------------------------------------------
// The library entry points: plain C functions with the host engine's signatures.

extern "C" {

LONG WINAPI sim_host_Kt_MoveTray(DWORD dwEngine, LONG dwUnit, DWORD dwFlags) {
    enter_call("Kt_MoveTray");
    if (!g_engine) return kErrorBadEngine;
    return g_engine->kt_move_tray(dwEngine, dwUnit, dwFlags);
}

LONG WINAPI sim_host_VeltoSDK_GetHandle(DWORD* pdwHandle) {
    enter_call("VeltoSDK_GetHandle");
    if (!g_engine) return kSdkNotAvailable;
    return g_engine->sdk_get_handle(pdwHandle);
}

LONG WINAPI sim_host_VeltoSDK_Command(DWORD dwHandle, DWORD* pdwUnitAddress, DWORD cbCommand, BYTE* pbCommand,
                                      DWORD cbResponse, BYTE* pbResponse, DWORD dwDirection, DWORD dwTimeout,
                                      DWORD* pdwTransferred, DWORD* pdwStatus, DWORD* pdwSense) {
    enter_call("VeltoSDK_Command");
    if (!g_engine) return kSdkBadHandle;
    return g_engine->sdk_command(dwHandle, pdwUnitAddress, cbCommand, pbCommand, cbResponse, pbResponse, dwDirection,
                                 dwTimeout, pdwTransferred, pdwStatus, pdwSense);
}

LONG WINAPI sim_host_VeltoSDK_ReleaseHandle(DWORD dwHandle) {
    enter_call("VeltoSDK_ReleaseHandle");
    if (!g_engine) return kSdkBadHandle;
    return g_engine->sdk_release_handle(dwHandle);
}

LONG WINAPI sim_host_DQ_OpenCloseTray(LONG dwZero, LONG dwUnit, LONG dwDirection) {
    enter_call("DQ_OpenCloseTray");
    if (!g_engine) return kErrorNoSuchUnit;
    return g_engine->dq_open_close_tray(dwZero, dwUnit, dwDirection);
}

}  // extern "C"

// ---------------------------------------------------------------------------------------------
// The engine

HostEngine::HostEngine(World& world, const HostEngineConfig& config) : world_(world), config_(config) {
    Components& c = world_.components();
    if (config_.install_kt) {
        c.add_library("KT.dll", {{"Kt_MoveTray", 170, reinterpret_cast<void*>(&sim_host_Kt_MoveTray)}});
        installed_.push_back("KT.dll");
    }
    if (config_.install_sdk) {
        c.add_library("KTSDKPLS.dll",
                      {{"VeltoSDK_GetHandle", 0, reinterpret_cast<void*>(&sim_host_VeltoSDK_GetHandle)},
                       {"VeltoSDK_Command", 0, reinterpret_cast<void*>(&sim_host_VeltoSDK_Command)},
                       {"VeltoSDK_ReleaseHandle", 0, reinterpret_cast<void*>(&sim_host_VeltoSDK_ReleaseHandle)}});
        installed_.push_back("KTSDKPLS.dll");
    }
    if (config_.install_dorquel) {
        c.add_library("Dorquel.dll", {{"DQ_OpenCloseTray", 0, reinterpret_cast<void*>(&sim_host_DQ_OpenCloseTray)}});
        installed_.push_back("Dorquel.dll");
    }
    g_engine = this;
}

HostEngine::~HostEngine() {
    if (g_engine == this) g_engine = nullptr;
    if (!has_world()) return;
    for (const std::string& name : installed_) world_.components().remove_library(name);
    for (char letter : volumes_) world_.components().remove_volume(letter);
}

void HostEngine::note(const std::string& text) const {
    if (has_kernel()) kernel().record("recorder", text);
}

void HostEngine::take_time(Micros d, const char* call) const {
    if (d > 0 && has_kernel() && kernel().in_thread()) kernel().sleep_for(d, call);
}

std::shared_ptr<RecorderDevice> HostEngine::add_recorder(const RecorderConfig& config) {
    for (const auto& r : recorders_) {
        if (r->unit() == config.unit)
            throw std::invalid_argument("a recorder with unit " + std::to_string(config.unit) + " exists already");
        if (upper(r->letter()) == upper(config.letter))
            throw std::invalid_argument(std::string("a recorder with drive letter ") + config.letter +
                                        " exists already");
    }
    auto device = std::make_shared<RecorderDevice>(config);
    recorders_.push_back(device);
    if (config.has_volume) {
        VolumeConfig v;
        v.vendor = config.vendor;
        v.product = config.product;
        v.revision = config.revision;
        v.serial = config.storage_serial;
        v.bus = config.host_adapter == 4 || config.host_adapter == 121 ? BusTypeUsb : BusTypeAtapi;
        world_.components().add_volume(config.letter, v);
        volumes_.push_back(config.letter);
    }
    return device;
}

std::shared_ptr<RecorderDevice> HostEngine::recorder(LONG unit) const {
    for (const auto& r : recorders_)
        if (r->unit() == unit) return r;
    return nullptr;
}

std::shared_ptr<RecorderDevice> HostEngine::recorder_at_letter(char letter) const {
    for (const auto& r : recorders_)
        if (upper(r->letter()) == upper(letter)) return r;
    return nullptr;
}

std::string HostEngine::recorder_list() const {
    std::string s;
    for (const auto& r : recorders_) {
        const RecorderConfig& c = r->config();
        s += std::to_string(c.unit) + "," + std::to_string(c.spare) + "," + std::to_string(c.host_adapter) + "," +
             std::to_string(c.target) + "," + std::string(1, c.letter) + "," + c.name + "\r\n";
    }
    return s;
}

void HostEngine::fail_tray_calls(LONG unit, int count, LONG error) {
    FaultCounter& c = world_.call_faults().tray.counter(std::to_string(unit));
    c.set_error(error);
    c.set_told_by_call(true);
    c.arm_next(count);
}

void HostEngine::fail_get_handle(int count, LONG error) {
    get_handle_failures_ = count;
    get_handle_error_ = error;
}

UnitCalls HostEngine::calls(LONG unit) const {
    auto it = calls_.find(unit);
    return it == calls_.end() ? UnitCalls() : it->second;
}

// An injected tray fault: the call answers the counter's code, kDqTrayError unless it names
// another (the engine's code for a drive that did not move its tray; Kt_MoveTray has no code of its
// own for it), and the tray stays where it is. The sweep's fault is told by a "fault" line and the
// call's "the tray does not move"; a unit's counter by the call's line alone, with the calls still
// to fail. Kt_MoveTray asks only the counters for every tray call (target "").
LONG HostEngine::injected_tray_fault(const std::string& target, const std::string& call, const RecorderDevice& r,
                                     std::string* why) {
    const Injected f = inject(world_.call_faults().tray, target, call, kDqTrayError);
    if (!f) return 0;
    if (!f.counter->told_by_call()) {
        *why = "injected failure, the tray does not move";
    } else {
        const uint64_t left = f.counter->still_to_fail();
        *why = std::string("injected failure, tray stays ") + tray_state_name(r.tray_state()) +
               (left == FaultCounter::kEvery ? " (always failing)" : " (" + std::to_string(left) + " more to fail)");
    }
    return f.error;
}

// --- KT.dll -------------------------------------------------------------------------------------

LONG HostEngine::kt_move_tray(DWORD engine, LONG unit, DWORD flags) {
    take_time(config_.tray_call_time, "Kt_MoveTray");
    ++calls_[unit].kt_move_tray;
    const std::string call = "Kt_MoveTray(" + hex32(engine) + ", " + std::to_string(unit) + ", " + hex32(flags) + ")";
    auto fail = [&](LONG code, const std::string& why) {
        note(call + " -> " + std::to_string(code) + ": " + why);
        return code;
    };
    if (engine != config_.engine_handle) return fail(kErrorBadEngine, "not the engine handle " + hex32(config_.engine_handle));
    std::shared_ptr<RecorderDevice> r = recorder(unit);
    if (!r) return fail(kErrorNoSuchUnit, "no such unit");
    const DWORD what = flags & 0xFF;
    if (what != 1 && what != 2) return fail(kErrorBadParameter, "unknown tray operation");
    std::string why;
    if (const LONG code = injected_tray_fault("", call, *r, &why)) return fail(code, why);
    const std::string how = r->move_tray(what == 1);
    note(call + " -> 0: unit " + std::to_string(unit) + " tray " + how);
    return 0;
}

// --- Dorquel.dll --------------------------------------------------------------------------------

LONG HostEngine::dq_open_close_tray(LONG zero, LONG unit, LONG direction) {
    take_time(config_.tray_call_time, "DQ_OpenCloseTray");
    UnitCalls& counts = calls_[unit];
    if (direction == 1) ++counts.dq_open;
    if (direction == 2) ++counts.dq_close;
    const std::string call = "DQ_OpenCloseTray(" + std::to_string(zero) + ", " + std::to_string(unit) + ", " +
                             std::to_string(direction) + ")";
    auto fail = [&](LONG code, const std::string& why) {
        ++counts.dq_failed;
        note(call + " -> " + std::to_string(code) + ": " + why);
        return code;
    };
    if (zero != 0) return fail(kErrorBadParameter, "first argument not 0");
    std::shared_ptr<RecorderDevice> r = recorder(unit);
    if (!r) return fail(kErrorNoSuchUnit, "no such unit");
    if (direction != 1 && direction != 2) return fail(kErrorBadParameter, "direction neither 1 (open) nor 2 (close)");
    std::string why;
    if (const LONG code = injected_tray_fault(std::to_string(unit), call, *r, &why)) return fail(code, why);
    const std::string how = r->move_tray(direction == 1);
    note(call + " -> 0: unit " + std::to_string(unit) + " tray " + how);
    return 0;
}

// --- KTSDKPLS.dll -------------------------------------------------------------------------------

LONG HostEngine::sdk_get_handle(DWORD* handle) {
    ++get_handle_calls_;
    if (get_handle_failures_ != 0) {
        if (get_handle_failures_ > 0) --get_handle_failures_;
        note("VeltoSDK_GetHandle -> " + hex32(static_cast<DWORD>(get_handle_error_)) + ": injected failure");
        return get_handle_error_;
    }
    if (!handle) {
        note("VeltoSDK_GetHandle(NULL) -> " + hex32(kSdkBadParameter));
        return kSdkBadParameter;
    }
    const DWORD h = next_handle_++;
    handles_.insert(h);
    *handle = h;
    note("VeltoSDK_GetHandle -> 0: handle " + hex32(h));
    return 0;
}

LONG HostEngine::sdk_release_handle(DWORD handle) {
    ++release_calls_;
    const std::string call = "VeltoSDK_ReleaseHandle(" + hex32(handle) + ")";
    if (handles_.erase(handle) == 0) {
        note(call + " -> " + hex32(kSdkBadHandle) + ": no such handle");
        return kSdkBadHandle;
    }
    note(call + " -> 0");
    return 0;
}

LONG HostEngine::sdk_command(DWORD handle, DWORD* address, DWORD cdb_length, BYTE* cdb, DWORD response_size,
                             BYTE* response, DWORD direction, DWORD timeout_s, DWORD* transferred,
                             DWORD* scsi_status, DWORD* sense_key) {
    (void)timeout_s;  // a simulated drive answers well within any time-out
    take_time(config_.sdk_call_time, "VeltoSDK_Command");
    std::string call = "VeltoSDK_Command(" + hex32(handle) + ", ";
    call += address ? (address[0] < 0x100 && std::isprint(static_cast<int>(address[0]))
                           ? std::string(1, static_cast<char>(address[0]))
                           : hex32(address[0])) +
                          "/" + hex32(address[1])
                    : std::string("NULL");
    call += ", " + (cdb && cdb_length <= 16 ? bytes_text(cdb, cdb_length) : std::to_string(cdb_length) + " bytes") + ")";
    auto fail = [&](LONG code, const std::string& why) {
        if (transferred) *transferred = 0;
        note(call + " -> " + hex32(static_cast<DWORD>(code)) + ": " + why);
        return code;
    };
    if (handles_.count(handle) == 0) return fail(kSdkBadHandle, "no such handle");
    if (!address) return fail(kSdkBadParameter, "no unit address");
    std::shared_ptr<RecorderDevice> r =
        address[0] < 0x100 ? recorder_at_letter(static_cast<char>(address[0])) : nullptr;
    if (r) ++calls_[r->unit()].sdk_commands;
    if (address[1] != 0xFFFFFFFFu) return fail(kSdkBadParameter, "second address word not 0xFFFFFFFF");
    if (!r) return fail(kSdkNoSuchDrive, "no such drive");
    if (!cdb || cdb_length < 6 || cdb_length > 16) return fail(kSdkBadParameter, "bad command block");
    if (cdb[0] != 0x46 || cdb_length < 10) {
        if (scsi_status) *scsi_status = 2;
        if (sense_key) *sense_key = 5;
        return fail(kSdkCheckCondition, "CHECK CONDITION, ILLEGAL REQUEST (command not served)");
    }
    if (direction != 1) return fail(kSdkBadParameter, "GET CONFIGURATION reads from the drive, direction must be 1");
    if (!response) return fail(kSdkBadParameter, "no response buffer");
    const int request_type = cdb[1] & 3;
    const WORD start = static_cast<WORD>((cdb[2] << 8) | cdb[3]);
    const DWORD allocation = static_cast<DWORD>((cdb[7] << 8) | cdb[8]);
    std::optional<std::vector<BYTE>> reply = r->configuration_reply(request_type, start);
    if (!reply) {
        if (scsi_status) *scsi_status = 2;
        if (sense_key) *sense_key = 5;
        return fail(kSdkCheckCondition, "GET CONFIGURATION failed: CHECK CONDITION, ILLEGAL REQUEST (no serial number)");
    }
    const DWORD n = std::min<DWORD>({static_cast<DWORD>(reply->size()), allocation, response_size});
    std::copy(reply->begin(), reply->begin() + n, response);
    if (transferred) *transferred = n;
    if (scsi_status) *scsi_status = 0;
    if (sense_key) *sense_key = 0;
    std::string what = "GET CONFIGURATION, " + std::to_string(n) + " of " + std::to_string(reply->size()) + " bytes";
    if (reply->size() >= 12) {
        const WORD first = static_cast<WORD>(((*reply)[8] << 8) | (*reply)[9]);
        what += ", first feature " + hex16(first);
        if (first == kSerialFeature)
            what += ", serial \"" + Transcript::escape(reinterpret_cast<const char*>(reply->data() + 12), (*reply)[11]) +
                    "\"";
    } else {
        what += ", no feature";
    }
    note(call + " -> 0: " + what);
    return 0;
}

}  // namespace sim
