// The robot's status frames: the input is what the port delivers after a status query, taken
// byte by byte as PortRead takes it (a new read starts after each complete frame, as the next
// query's would), and the first 11 bytes parsed directly as one frame.
#include "fuzz_support.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"

namespace {

bool is_robot_state(BYTE b) { return b == 'I' || b == 'B' || b == 'W' || b == 'P'; }

// The frame's checksum recomputed here from its definition: the sum, modulo 256, of its
// L - 1 bytes from the "S" on.
BYTE checksum_of(const BYTE* frame) {
    BYTE sum = 0;
    for (int i = 0; i + 1 < frame[1]; ++i) sum = static_cast<BYTE>(sum + frame[i]);
    return sum;
}

// A frame the parser accepted, and the record it made of it.
void check_accepted(const BYTE* frame, const RoboStatus& status) {
    FUZZ_CHECK(frame[0] == 'S');
    FUZZ_CHECK(frame[1] < STATUS_FRAME_SIZE);
    FUZZ_CHECK(is_robot_state(frame[2]));
    FUZZ_CHECK(checksum_of(frame) == frame[9]);
    FUZZ_CHECK(status.bRoboState == frame[2]);
    FUZZ_CHECK(status.bCurrentPosition == frame[3]);
    FUZZ_CHECK(status.bAuxiliary == frame[4]);
    FUZZ_CHECK(status.bError == frame[5]);
    FUZZ_CHECK(status.bPrinterState == frame[6]);
    FUZZ_CHECK(status.bPrinterTray == frame[7]);
    FUZZ_CHECK(status.bPicker == frame[8]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BYTE buffer[RECEIVE_BUFFER_SIZE];
    DWORD received = 0;
    const BYTE* frame = nullptr;
    for (size_t i = 0; i < size; ++i) {
        const BYTE* before = frame;
        const int result = TakeReceivedByte(buffer, &received, data[i], &frame);
        FUZZ_CHECK(received <= RECEIVE_BUFFER_SIZE);
        switch (result) {
            case FRAME_BUFFER_FULL:
                FUZZ_CHECK(received == RECEIVE_BUFFER_SIZE);
                FUZZ_CHECK(frame == before);
                break;
            case FRAME_PENDING:
                // A "$" behind ten bytes or more points the frame at the last 11 bytes.
                if (data[i] == '$' && received >= STATUS_FRAME_SIZE) FUZZ_CHECK(frame == buffer + received - STATUS_FRAME_SIZE);
                else FUZZ_CHECK(frame == before);
                break;
            case FRAME_BAD_CHECKSUM:
            case FRAME_COMPLETE: {
                FUZZ_CHECK(data[i] == '$');
                FUZZ_CHECK(frame == buffer + received - STATUS_FRAME_SIZE);
                FUZZ_CHECK(frame[STATUS_FRAME_SIZE - 1] == '$');
                FUZZ_CHECK(CheckStatusFrame(frame) == result);
                RoboStatus status;
                std::memset(&status, 0x5A, sizeof status);
                const int parsed = ParseStatusFrame(frame, STATUS_FRAME_SIZE, &status);
                FUZZ_CHECK(parsed == (result == FRAME_COMPLETE));
                if (parsed) {
                    check_accepted(frame, status);
                    received = 0;  // the read ends; the next query reads afresh
                    frame = nullptr;
                } else {
                    FUZZ_CHECK(frame[0] == 'S' && is_robot_state(frame[2]) && checksum_of(frame) != frame[9]);
                }
                break;
            }
            default:
                FUZZ_CHECK(!"TakeReceivedByte returned an unknown result");
        }
    }

    // The input's first bytes as one frame, exactly as long as the input is (no more is read).
    if (size > 0) {
        BYTE* copy = static_cast<BYTE*>(std::malloc(size));
        std::memcpy(copy, data, size);
        RoboStatus status;
        std::memset(&status, 0x5A, sizeof status);
        RoboStatus untouched = status;
        const int parsed = ParseStatusFrame(copy, static_cast<DWORD>(size), &status);
        if (parsed) {
            FUZZ_CHECK(size >= STATUS_FRAME_SIZE);
            check_accepted(copy, status);
        } else {
            FUZZ_CHECK(std::memcmp(&status, &untouched, sizeof status) == 0);
        }
        std::free(copy);
    }
    return 0;
}
