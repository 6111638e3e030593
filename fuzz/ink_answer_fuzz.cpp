// The disc printer's ink answer and a print file's ink figures. The input is: one byte of flags
// (bit 0: the printer is a "Tessik 6"; bit 1: its driver says the second cartridge is a photo
// cartridge), one byte n, the driver's answer of n bytes (as many as the input still holds), and
// the rest as the print file, whose first 32 and last 24 bytes carry its ink figures.
#include <algorithm>

#include "fuzz_support.h"
#include "printer/ink_levels.h"

namespace {

DWORD big_endian(const BYTE* b) {
    return (static_cast<DWORD>(b[0]) << 24) | (static_cast<DWORD>(b[1]) << 16) | (static_cast<DWORD>(b[2]) << 8) | b[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool tessik = (data[0] & 1) != 0;
    const bool photo_driver = (data[0] & 2) != 0;
    const size_t answer_size = std::min<size_t>(data[1], size - 2);
    const uint8_t* file = data + 2 + answer_size;
    const size_t file_size = size - 2 - answer_size;

    // The answer exactly as long as the driver gave it; the fields it does not reach read as 0.
    BYTE* answer = static_cast<BYTE*>(std::malloc(answer_size ? answer_size : 1));
    std::memcpy(answer, data + 2, answer_size);
    BYTE padded[INK_ANSWER_SIZE + 4];
    std::memset(padded, 0, sizeof padded);
    std::memcpy(padded, answer, std::min<size_t>(answer_size, INK_ANSWER_SIZE));

    InkData ink;
    std::memset(&ink, 0x5A, sizeof ink);
    BYTE warnings = 0x5A, errors = 0x5A;
    const int decoded =
        DecodeInkAnswer(answer, static_cast<DWORD>(answer_size), tessik ? TRUE : FALSE, &ink, &warnings, &errors);
    std::free(answer);
    FUZZ_CHECK(decoded == 0 || decoded == 1);
    const bool valid_size = answer_size >= 25 && answer_size <= INK_ANSWER_SIZE &&
                            padded[1] == static_cast<BYTE>(answer_size - 2);
    FUZZ_CHECK(decoded == (valid_size ? 1 : 0));
    if (!decoded) {
        FUZZ_CHECK(ink.dwCartridges == INK_SET_UNKNOWN && warnings == 0 && errors == 0);
        for (LONG counter : ink.alInk) FUZZ_CHECK(counter == 0);
        return 0;
    }
    if (tessik) {
        static const DWORD kSets[] = {INK_SET_UNKNOWN, INK_SET_COLOUR, INK_SET_BLACK, INK_SET_COLOUR_BLACK,
                                      INK_SET_TWO_COLOUR};
        FUZZ_CHECK(ink.dwCartridges == (padded[3] < 5 ? kSets[padded[3]] : INK_SET_UNKNOWN));
        for (int i = 0; i < INK_COUNTERS; ++i) FUZZ_CHECK(static_cast<DWORD>(ink.alInk[i]) == big_endian(padded + 5 + 4 * i));
        FUZZ_CHECK(warnings == padded[4] && errors == padded[62]);
    } else {
        static const DWORD kSets[] = {INK_SET_BLACK, INK_SET_COLOUR, INK_SET_COLOUR_BLACK, INK_SET_COLOUR_BLACK};
        FUZZ_CHECK(ink.dwCartridges == (padded[2] < 4 ? kSets[padded[2]] : INK_SET_UNKNOWN));
        for (int i = 0; i < INK_COUNTERS; ++i) {
            const DWORD expected = i < 4 && ink.dwCartridges != INK_SET_UNKNOWN ? big_endian(padded + 4 + 4 * i) : 0;
            FUZZ_CHECK(static_cast<DWORD>(ink.alInk[i]) == expected);
        }
        FUZZ_CHECK(warnings == 0 && errors == 0);
    }
    if (ink.dwCartridges == INK_SET_UNKNOWN) return 0;

    // A "Tessik 6" with colour and black may carry a photo cartridge instead of the black one.
    if (tessik && ink.dwCartridges == INK_SET_COLOUR_BLACK && (ink.alInk[4] >= 1 || ink.alInk[5] >= 1 || photo_driver))
        ink.dwCartridges = INK_SET_COLOUR_PHOTO;

    // The estimate from the print file exactly as long as it is.
    BYTE* bytes = static_cast<BYTE*>(std::malloc(file_size ? file_size : 1));
    std::memcpy(bytes, file, file_size);
    const BYTE* trailer = file_size >= PRINT_INK_TRAILER_SIZE ? bytes + file_size - PRINT_INK_TRAILER_SIZE : nullptr;
    const int estimate = EstimateInkDiscs(bytes, static_cast<DWORD>(file_size), trailer, &ink);
    FUZZ_CHECK(estimate == NO_INK_ESTIMATE || (estimate >= 0 && estimate <= MAX_INK_ESTIMATE));
    if (file_size < PRINT_INK_HEADER_SIZE || bytes[0] != 0x1B) FUZZ_CHECK(estimate == NO_INK_ESTIMATE);
    std::free(bytes);
    return 0;
}
