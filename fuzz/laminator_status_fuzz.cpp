// The laminator's status record and the firmware texts: the input's first 80 bytes (or fewer)
// are the record as the driver returned it, with the input's length as the byte count; the
// input up to its first NUL, cut to the firmware text's size, is the robot's firmware text that
// decides laminator support, and the record's own firmware field is parsed the same way.
#include <algorithm>

#include "fuzz_support.h"
#include "printer/laminator_channel.h"
#include "robot/robo_status.h"

namespace {

// The record's checksum recomputed from its definition: the sum of its bLength - 1 bytes from
// offset 1; a length past the record cannot be summed.
int checksum_of(const BYTE* record) {
    const int count = record[1] > 1 ? record[1] - 1 : 0;
    if (1 + count > LAM_STATUS_SIZE) return -1;
    BYTE sum = 0;
    for (int i = 1; i <= count; ++i) sum = static_cast<BYTE>(sum + record[i]);
    return sum;
}

// ParseVersion on a text; the minor number keeps its value when only the major one is found.
void check_version_text(const char* text) {
    int major = -7, minor = -9;
    const int found = ParseVersion(text, &major, &minor);
    FUZZ_CHECK(found == 0 || found == 1);
    if (!found) {
        FUZZ_CHECK(major == -7 && minor == -9);
        return;
    }
    // A number pair follows a blank before a ".".
    const char* dot = std::strchr(text, '.');
    FUZZ_CHECK(dot != nullptr);
    FUZZ_CHECK(std::memchr(text, ' ', static_cast<size_t>(std::strrchr(text, '.') - text)) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LamStatus status;
    std::memset(&status, 0, sizeof status);
    std::memcpy(&status, data, std::min<size_t>(size, LAM_STATUS_SIZE));
    const DWORD count = static_cast<DWORD>(std::min<size_t>(size, 0xFFFFFFFF));
    const int result = CheckLamStatus(&status, count);
    const BYTE* record = reinterpret_cast<const BYTE*>(&status);
    switch (result) {
        case LAM_RECORD_WRONG_SIZE: FUZZ_CHECK(count != LAM_STATUS_SIZE); break;
        case LAM_RECORD_FOREIGN:
            FUZZ_CHECK(count == LAM_STATUS_SIZE);
            FUZZ_CHECK(record[0] != 0x01 || record[79] != 0x04 ||
                       (record[29] != 'I' && record[29] != 'B' && record[29] != 'C'));
            break;
        case LAM_RECORD_BAD_CHECKSUM:
        case LAM_RECORD_VALID:
            FUZZ_CHECK(count == LAM_STATUS_SIZE && record[0] == 0x01 && record[79] == 0x04);
            FUZZ_CHECK(status.bLamState == 'I' || status.bLamState == 'B' || status.bLamState == 'C');
            FUZZ_CHECK((checksum_of(record) == record[78]) == (result == LAM_RECORD_VALID));
            break;
        default: FUZZ_CHECK(!"CheckLamStatus returned an unknown result");
    }
    const DWORD left = LaminationsLeft(&status);
    const DWORD ribbon = (static_cast<DWORD>(record[41]) << 16) | (static_cast<DWORD>(record[42]) << 8) | record[43];
    FUZZ_CHECK(left == ribbon / LAM_RIBBON_PER_LAMINATION);

    // The record's firmware field, which is not terminated within the record.
    char lam_firmware[LAM_FIRMWARE_SIZE + 1];
    std::memcpy(lam_firmware, status.szLamFirmware, LAM_FIRMWARE_SIZE);
    lam_firmware[LAM_FIRMWARE_SIZE] = '\0';
    check_version_text(lam_firmware);

    // The robot's firmware text.
    const size_t length = std::min<size_t>(strnlen(reinterpret_cast<const char*>(data), size), FIRMWARE_TEXT_SIZE - 1);
    std::memcpy(g_szFirmware, data, length);
    g_szFirmware[length] = '\0';
    check_version_text(g_szFirmware);
    int major = 0, minor = 0;
    ParseVersion(g_szFirmware, &major, &minor);
    const int supported = CheckLaminatorFirmware();
    FUZZ_CHECK(supported == (major > 1 || (major == 1 && minor >= 13) ? 1 : 0));
    return 0;
}
