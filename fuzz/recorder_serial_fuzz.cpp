// A recorder's serial number, from the two places the module reads it: the drive's GET
// CONFIGURATION reply (through the host's disc SDK) and the platform's storage device
// descriptor. The input is used as both: as the reply, once exactly as long as the input and
// once in the SDK's 100-byte buffer that the module clears before the command; and as the
// descriptor, exactly as long as the input.
#include "fuzz_support.h"
#include "setup/recorders.h"

namespace {

const DWORD kSdkReplySize = 100;

// A serial number from the reply: the feature code 0x0108 in bytes 8 and 9, and the text from
// byte 12 up to a NUL or blank, cut to the field.
void check_reply(const BYTE* reply, DWORD size) {
    char serial[RECORDER_SERIAL_SIZE + 8];
    std::memset(serial, 'x', sizeof serial);
    const int found = SerialFromConfigurationReply(reply, size, serial);
    FUZZ_CHECK(found == 0 || found == 1);
    FUZZ_CHECK(fuzz::terminated_within(serial, RECORDER_SERIAL_SIZE));
    FUZZ_CHECK(serial[RECORDER_SERIAL_SIZE] == 'x');  // nothing written past the field
    const size_t length = std::strlen(serial);
    FUZZ_CHECK(found == (length > 0));
    if (!found) return;
    FUZZ_CHECK(size > 12 && reply[8] == 0x01 && reply[9] == 0x08);
    FUZZ_CHECK(std::memcmp(serial, reply + 12, length) == 0);
    FUZZ_CHECK(std::memchr(serial, ' ', length) == nullptr);
    // The text ends where the reply's does, or where the field does.
    FUZZ_CHECK(length == RECORDER_SERIAL_SIZE - 1 || 12 + length == size || reply[12 + length] == '\0' ||
               reply[12 + length] == ' ');
}

// A serial number from the descriptor: the text at the offset held at byte 24.
void check_descriptor(const BYTE* descriptor, DWORD size) {
    char serial[RECORDER_SERIAL_SIZE + 8];
    std::memset(serial, 'x', sizeof serial);
    const int found = SerialFromStorageDescriptor(descriptor, size, serial);
    FUZZ_CHECK(found == 0 || found == 1 || found == SERIAL_OUTSIDE_DESCRIPTOR);
    FUZZ_CHECK(fuzz::terminated_within(serial, RECORDER_SERIAL_SIZE));
    FUZZ_CHECK(serial[RECORDER_SERIAL_SIZE] == 'x');
    DWORD offset = 0;
    if (size >= 28) std::memcpy(&offset, descriptor + 24, sizeof offset);
    if (found != 1) {
        FUZZ_CHECK(serial[0] == '\0');
        FUZZ_CHECK((found == SERIAL_OUTSIDE_DESCRIPTOR) == (offset != 0 && offset != 0xFFFFFFFFu && offset >= size));
        return;
    }
    FUZZ_CHECK(offset != 0 && offset != 0xFFFFFFFFu && offset < size);
    const size_t length = std::strlen(serial);
    FUZZ_CHECK(std::memcmp(serial, descriptor + offset, length) == 0);
    FUZZ_CHECK(length == RECORDER_SERIAL_SIZE - 1 || offset + length == size || descriptor[offset + length] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DWORD cb = static_cast<DWORD>(size);
    BYTE* exact = static_cast<BYTE*>(std::malloc(size ? size : 1));
    std::memcpy(exact, data, size);
    check_reply(exact, cb);
    check_descriptor(exact, cb);
    std::free(exact);

    BYTE sdk_buffer[kSdkReplySize];
    std::memset(sdk_buffer, 0, sizeof sdk_buffer);
    std::memcpy(sdk_buffer, data, size < kSdkReplySize ? size : kSdkReplySize);
    check_reply(sdk_buffer, kSdkReplySize);
    return 0;
}
