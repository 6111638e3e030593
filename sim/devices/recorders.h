// The host's recording engine as the world provides it: the recorders (optical drives with a tray
// that the robot reaches into) and the three libraries through which the module reaches them.
//
// Recorders
// ---------
// A `RecorderDevice` is one drive of the host's engine. The host names it by its unit number
// (`dwUnit` of the module's recorder table) and lists it with a host adapter number and target id
// (host adapter 4 or 121 marks an external drive), its drive letter and its vendor/model text
// (`HostEngine::recorder_list()` gives the host's list in the module's format). It has a serial
// number twice over: as the drive answers the MMC GET CONFIGURATION command through the disc SDK,
// and as the platform's storage query reports it (the drive's volume "\\.\E:"); either may be
// absent, and either may carry leading blanks.
//
// The tray is closed, opening, open or closing. A movement takes `tray_move_time` (1.5 s unless
// configured); while it moves the tray is neither open nor closed for a disc. A command in the
// direction the tray already goes, or to where it already is, changes nothing; a command the other
// way while it moves turns it round, and it gets back in the time it had travelled. The tray holds
// one disc. As a place for the robot (`DiscHolder`, wired with `robot.connect_recorder('A', dev)`):
// a disc dropped on the open, still, empty tray goes in; a pick from the open, still tray with a
// disc takes it; anything else refuses — a pick then raises "A" at the robot, a drop lets the disc
// fall. A disc inside a closed drive stays there and is the drive's until the tray opens again.
//
// Libraries
// ---------
// `HostEngine` owns the recorders and installs the libraries in the world (each may be left out;
// LoadLibraryA then fails as on Windows). The functions are plain C functions with the signatures
// the module's host-engine header declares; they run on the caller's simulated thread and take a
// little virtual time, as the real calls do (`tray_call_time`, `sdk_call_time`); a tray movement
// itself happens after the call has returned.
//
//   KT.dll, ordinal 170 (also by name "Kt_MoveTray")
//       LONG Kt_MoveTray(DWORD engine, LONG unit, DWORD flags)
//       flags 0x80000002 closes the unit's tray, 0x80000001 opens it (the high bit asks the engine
//       not to wait for the movement). 0 when the movement was started; kErrorBadEngine for another
//       engine handle than the host's, kErrorNoSuchUnit, kErrorBadParameter for other flags.
//   KTSDKPLS.dll, the disc SDK
//       LONG VeltoSDK_GetHandle(DWORD* handle)              0 and a fresh handle, or a failure
//                                                            (injectable, kSdkNotAvailable)
//       LONG VeltoSDK_Command(DWORD handle, DWORD* address, DWORD cdb_length, BYTE* cdb,
//                             DWORD response_size, BYTE* response, DWORD direction,
//                             DWORD timeout_s, DWORD* transferred, DWORD* scsi_status,
//                             DWORD* sense_key)
//           address[0] is the drive letter as a number ('E' = 0x45, either case), address[1]
//           must be 0xFFFFFFFF (the drive's own logical unit). direction 1 = data from the drive.
//           response_size is the size of the response buffer; timeout_s is in seconds (not
//           simulated). Only GET CONFIGURATION (0x46) is served: the drive's reply is written,
//           cut to the allocation length of the command and to response_size, as a real drive
//           would: an 8-byte header (data length, current profile), then one descriptor per
//           feature from the starting feature on (request type 0, 1) or only that feature (type 2):
//           feature code in bytes 0-1, version/persistent/current in byte 2, additional length in
//           byte 3, data after. The serial number feature 0x0108 carries the serial text padded
//           with blanks to a multiple of 4. A drive without a serial number lacks that feature, so
//           a reply from 0x0108 on starts with the next feature (0x010B), or, when configured, the
//           command fails with CHECK CONDITION. 0 with *transferred, *scsi_status 0 and *sense_key
//           0 on success; otherwise an error code and no reply: kSdkBadHandle, kSdkNoSuchDrive
//           (unknown letter), kSdkBadParameter, kSdkCheckCondition (scsi_status 2, sense key 5,
//           ILLEGAL REQUEST, for any other command or a failing GET CONFIGURATION).
//       LONG VeltoSDK_ReleaseHandle(DWORD handle)            0, or kSdkBadHandle
//   Dorquel.dll
//       LONG DQ_OpenCloseTray(LONG zero, LONG unit, LONG direction)
//       direction 1 opens, 2 closes: 0 when the movement was started (or the tray already is or
//       goes there); kErrorNoSuchUnit, kErrorBadParameter; injected failures return their code
//       (kDqTrayError unless given) and leave the tray where it is.
//
// Both tray calls also fail, with kDqTrayError and no movement, when the world's tray counter
// for every call says so (CallFaults, the "fail call N" sweep); a unit's own counter in that
// family (fail_tray_calls) fails the unit's DQ_OpenCloseTray calls. A call is counted once it is
// known to reach a tray: its arguments name a unit and a movement (and, for Kt_MoveTray, the
// host's engine).
//
// Every library call, with its arguments and result, and every end of a tray movement goes into
// the transcript under kind "recorder".
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "devices/discs.h"
#include "kernel/kernel.h"

namespace sim {

class World;

// Result codes of the host engine libraries (0 is success).
constexpr LONG kErrorBadEngine = 6;        // Kt_MoveTray: not the host's engine handle
constexpr LONG kErrorNoSuchUnit = 2;       // no recorder with that unit number
constexpr LONG kErrorBadParameter = 87;    // an argument out of range
constexpr LONG kDqTrayError = 31;          // DQ_OpenCloseTray: the drive did not move its tray
constexpr LONG kSdkNotAvailable = 0x5001;  // VeltoSDK_GetHandle: no handle to be had
constexpr LONG kSdkBadHandle = 0x5002;
constexpr LONG kSdkNoSuchDrive = 0x5003;
constexpr LONG kSdkBadParameter = 0x5004;
constexpr LONG kSdkCheckCondition = 0x5005;

// What a drive without a serial number does with GET CONFIGURATION from feature 0x0108.
enum class MissingSerial {
    OtherFeature,  // the reply starts with the next feature the drive has
    CommandFails,  // the command ends with CHECK CONDITION, no reply
};

struct RecorderConfig {
    LONG unit = 0;            // the host engine's unit number
    LONG spare = 0;           // second number of the host's list line
    LONG host_adapter = 4;    // 4 and 121: external drives
    LONG target = 0;
    char letter = 'E';
    std::string name = "KESTREL DVD-RW KR-2040";  // vendor and model, as the host lists it
    // The drive's identification as the storage query reports it.
    std::string vendor = "KESTREL ";
    std::string product = "DVD-RW KR-2040  ";
    std::string revision = "1.11";
    bool has_volume = true;   // false: "\\.\X:" cannot be opened
    // Serial number in the GET CONFIGURATION reply; absent: see `missing_serial`.
    std::optional<std::string> sdk_serial;
    MissingSerial missing_serial = MissingSerial::OtherFeature;
    // Serial number in the storage query's device descriptor; absent: offset 0.
    std::optional<std::string> storage_serial;
    Micros tray_move_time = 1500 * kMs;
    bool tray_open = false;   // where the tray is when the world starts

    // An external drive with the same serial number through both paths.
    static RecorderConfig external(LONG unit, char letter, const std::string& serial);
};

enum class TrayState { Closed, Opening, Open, Closing };
const char* tray_state_name(TrayState s);  // "closed", "opening", "open", "closing"

class RecorderDevice : public DiscHolder {
public:
    explicit RecorderDevice(const RecorderConfig& config);
    ~RecorderDevice() override;
    RecorderDevice(const RecorderDevice&) = delete;
    RecorderDevice& operator=(const RecorderDevice&) = delete;

    const RecorderConfig& config() const { return config_; }
    LONG unit() const { return config_.unit; }
    char letter() const { return config_.letter; }

    // --- the tray ------------------------------------------------------------------------------
    TrayState tray_state() const { return tray_; }
    bool tray_open() const { return tray_ == TrayState::Open; }     // open and still
    bool tray_closed() const { return tray_ == TrayState::Closed; } // closed and still
    bool tray_moving() const { return tray_ == TrayState::Opening || tray_ == TrayState::Closing; }
    // Starts a movement towards open or closed (see the header comment). Returns what the tray
    // now does, for the transcript: "opening", "closing (turned round)", "already open" ...
    std::string move_tray(bool open);
    // World set-up: puts the tray where it is wanted at once, ending any movement.
    void set_tray_now(bool open);
    uint32_t tray_movements() const { return movements_; }  // movements started
    // Changes the time a movement takes (from the next movement on).
    void set_tray_move_time(Micros t) { config_.tray_move_time = t; }

    // --- the disc inside -----------------------------------------------------------------------
    const std::optional<Disc>& disc_inside() const { return disc_; }
    DiscId disc_id() const { return disc_ ? disc_->id : 0; }
    // Marks the disc inside as recorded (the host has written it); false when there is none.
    bool mark_recorded();

    // --- the place for the robot ---------------------------------------------------------------
    bool can_accept(std::string* why = nullptr) const override;
    bool has_disc() const override { return tray_ == TrayState::Open && disc_.has_value(); }
    void put(const Disc& disc) override;
    std::optional<Disc> take(std::string* why = nullptr) override;
    std::vector<Disc> discs() const override;

    // The GET CONFIGURATION reply this drive gives in full (before the allocation length cuts
    // it), or nothing when the command fails. `request_type` is byte 1 & 3 of the command.
    std::optional<std::vector<BYTE>> configuration_reply(int request_type, WORD starting_feature) const;

private:
    void note(const std::string& text) const;

    RecorderConfig config_;
    TrayState tray_;
    Micros move_started_ = 0;
    Micros move_duration_ = 0;
    uint64_t move_serial_ = 0;
    uint32_t movements_ = 0;
    std::optional<Disc> disc_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

struct HostEngineConfig {
    DWORD engine_handle = 0x4B540010;  // the host's engine handle (first argument of Rovane_Init)
    bool install_kt = true;            // KT.dll
    bool install_sdk = true;           // KTSDKPLS.dll
    bool install_dorquel = true;       // Dorquel.dll
    Micros tray_call_time = 20 * kMs;  // Kt_MoveTray, DQ_OpenCloseTray
    Micros sdk_call_time = 4 * kMs;    // VeltoSDK_Command
};

// Library calls counted for one unit.
struct UnitCalls {
    uint32_t kt_move_tray = 0;     // every Kt_MoveTray call naming the unit
    uint32_t dq_open = 0;          // DQ_OpenCloseTray with direction 1
    uint32_t dq_close = 0;         // ... with direction 2
    uint32_t dq_failed = 0;        // DQ_OpenCloseTray calls answered with an error
    uint32_t sdk_commands = 0;     // VeltoSDK_Command calls addressed to the unit's drive letter
};

class HostEngine {
public:
    // Installs the libraries the configuration asks for. One engine per world: the library
    // functions reach the engine created last.
    explicit HostEngine(World& world, const HostEngineConfig& config = HostEngineConfig());
    ~HostEngine();
    HostEngine(const HostEngine&) = delete;
    HostEngine& operator=(const HostEngine&) = delete;

    const HostEngineConfig& config() const { return config_; }
    DWORD engine_handle() const { return config_.engine_handle; }

    // --- recorders -----------------------------------------------------------------------------
    // Adds a recorder and registers its volume for the storage query. Unit numbers and drive
    // letters must be unique (std::invalid_argument otherwise).
    std::shared_ptr<RecorderDevice> add_recorder(const RecorderConfig& config);
    const std::vector<std::shared_ptr<RecorderDevice>>& recorders() const { return recorders_; }
    std::shared_ptr<RecorderDevice> recorder(LONG unit) const;
    std::shared_ptr<RecorderDevice> recorder_at_letter(char letter) const;
    // The host's recorder list as Rovane_Init receives it: one "unit,spare,host,target,letter,
    // name\r\n" line per recorder, in the order they were added.
    std::string recorder_list() const;

    // --- faults --------------------------------------------------------------------------------
    // The next `count` DQ_OpenCloseTray calls for the unit fail with `error` and move nothing
    // (-1 = every call from now on, 0 = stop failing): the unit's counter in the world's tray
    // family. Kt_MoveTray, the engine's own call that closes a tray, does not ask it.
    void fail_tray_calls(LONG unit, int count, LONG error = kDqTrayError);
    // The next `count` VeltoSDK_GetHandle calls fail (-1 = always, 0 = stop).
    void fail_get_handle(int count, LONG error = kSdkNotAvailable);

    // --- counts --------------------------------------------------------------------------------
    UnitCalls calls(LONG unit) const;
    uint32_t get_handle_calls() const { return get_handle_calls_; }
    uint32_t release_handle_calls() const { return release_calls_; }
    size_t open_sdk_handles() const { return handles_.size(); }  // got and not yet released

    // --- the library functions (called through the C entry points) ----------------------------
    LONG kt_move_tray(DWORD engine, LONG unit, DWORD flags);
    LONG sdk_get_handle(DWORD* handle);
    LONG sdk_command(DWORD handle, DWORD* address, DWORD cdb_length, BYTE* cdb, DWORD response_size, BYTE* response,
                     DWORD direction, DWORD timeout_s, DWORD* transferred, DWORD* scsi_status, DWORD* sense_key);
    LONG sdk_release_handle(DWORD handle);
    LONG dq_open_close_tray(LONG zero, LONG unit, LONG direction);

private:
    void note(const std::string& text) const;
    void take_time(Micros d, const char* call) const;
    // 0, or the code of an injected failure of this tray call and *why, for its transcript line.
    LONG injected_tray_fault(const std::string& target, const std::string& call, const RecorderDevice& r, std::string* why);

    World& world_;
    HostEngineConfig config_;
    std::vector<std::shared_ptr<RecorderDevice>> recorders_;
    std::map<LONG, UnitCalls> calls_;
    int get_handle_failures_ = 0;
    LONG get_handle_error_ = kSdkNotAvailable;
    uint32_t get_handle_calls_ = 0;
    uint32_t release_calls_ = 0;
    std::set<DWORD> handles_;
    DWORD next_handle_ = 0x5D4B0001;
    std::vector<std::string> installed_;  // library names, removed again on destruction
    std::vector<char> volumes_;
};

}  // namespace sim
