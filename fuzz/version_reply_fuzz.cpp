// The robot's version reply: the input is what the port delivers after a version query, taken
// byte by byte as GetRoboVersion takes it, until a Zorvik QIX has answered or the input ends.
#include <initializer_list>

#include "fuzz_support.h"
#include "robot/robo_status.h"

namespace {

bool one_of(BYTE value, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (value == a) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VersionReply reply;
    std::memset(&reply, 0, sizeof reply);
    RoboVersion version;
    std::memset(&version, 0, sizeof version);
    for (size_t i = 0; i < size; ++i) {
        const DWORD before = reply.cchText;
        const int found = TakeVersionByte(&reply, data[i], &version);

        FUZZ_CHECK(reply.cchText <= VERSION_BUFFER_SIZE);
        FUZZ_CHECK(reply.cchText == (before < VERSION_BUFFER_SIZE ? before + 1 : before));
        FUZZ_CHECK(reply.szText[reply.cchText] == '\0');
        FUZZ_CHECK(reply.dwSearchFrom <= reply.cchText);
        if (found == VERSION_PENDING) continue;

        // A line ended: 7 bytes or more, the last two CR LF, and this byte the line feed.
        FUZZ_CHECK(found == VERSION_LINE || found == VERSION_OLDER_MODEL || found == VERSION_QIX);
        FUZZ_CHECK(before < VERSION_BUFFER_SIZE && data[i] == '\n');
        FUZZ_CHECK(reply.cchText >= 7);
        FUZZ_CHECK(reply.szText[reply.cchText - 2] == '\r' && reply.szText[reply.cchText - 1] == '\n');
        if (found == VERSION_LINE) continue;

        // A model was named after an "ION:" that the text holds before its NUL.
        FUZZ_CHECK(reply.dwSearchFrom >= 4);
        FUZZ_CHECK(std::memcmp(reply.szText + reply.dwSearchFrom - 4, "ION:", 4) == 0);
        FUZZ_CHECK(std::strlen(reply.szText) >= reply.dwSearchFrom);
        FUZZ_CHECK(fuzz::terminated_within(version.szFirmware, sizeof version.szFirmware));
        FUZZ_CHECK(std::strcmp(version.szFirmware, reply.szText + reply.dwSearchFrom) == 0);
        FUZZ_CHECK(one_of(version.bApprovedDvdR, {0, 1, 2, 4}));
        if (found == VERSION_QIX) {
            FUZZ_CHECK(version.wModelType == 1);
            FUZZ_CHECK(one_of(version.bRecorderCount, {0, 2, 4}));
            break;  // the reply is complete: GetRoboVersion stops reading
        }
        FUZZ_CHECK(version.wModelType == 0);
        FUZZ_CHECK(one_of(version.bRecorderCount, {0, 1, 2}));
    }
    return 0;
}
