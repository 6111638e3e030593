// The host's recorder list: the input is the host's text, NUL bytes included. The host's buffer
// is modelled as the input followed by two NULs and nothing more: the module may look past the
// text's first NUL for further lines (a host may put them there), but never past the next NUL.
// Each recorder line goes into the recorder table as start-up puts it there (without the serial
// number, which asks the drive).
#include <algorithm>

#include "fuzz_support.h"
#include "setup/recorder_list.h"
#include "setup/recorders.h"

namespace {

struct Scan {
    int lines = 0;
};

int take_line(const RecorderLine* line, void* context) {
    Scan* scan = static_cast<Scan*>(context);
    ++scan->lines;
    FUZZ_CHECK(scan->lines <= MAX_RECORDERS);
    FUZZ_CHECK(fuzz::terminated_within(line->szName, sizeof line->szName));
    FUZZ_CHECK(std::strchr(line->szName, '\r') == nullptr);

    const int row = AddRecorder(line->lUnit, line->lSpare, line->lHost, line->lTarget, line->cLetter, line->szName);
    FUZZ_CHECK(row == scan->lines - 1);
    FUZZ_CHECK(g_wRecorderRows == scan->lines);
    const RecorderEntry& entry = g_Recorders[row];
    FUZZ_CHECK(entry.dwUnit == line->lUnit && entry.dwSpare == line->lSpare && entry.dwHost == line->lHost &&
               entry.dwTarget == line->lTarget && entry.cLetter == line->cLetter);
    // The name cut to the table's field.
    FUZZ_CHECK(fuzz::terminated_within(entry.szName, sizeof entry.szName));
    FUZZ_CHECK(std::strncmp(entry.szName, line->szName, sizeof entry.szName - 1) == 0);
    FUZZ_CHECK(std::strlen(entry.szName) == std::min(std::strlen(line->szName), sizeof entry.szName - 1));
    return g_wRecorderRows < MAX_RECORDERS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(std::malloc(size + 2));
    std::memcpy(text, data, size);
    text[size] = '\0';
    text[size + 1] = '\0';

    ClearRecorders();
    Scan scan;
    const int result = ScanRecorderList(text, take_line, &scan);
    FUZZ_CHECK(result == 0 || result == 1 || result == RECORDER_LIST_INVALID);
    if (result == 0) FUZZ_CHECK(text[0] == '\0' && scan.lines == 0);
    // A text (within the part the module looks at) whose every line ends with a line feed is
    // never refused.
    const size_t length = std::strlen(text);
    if (length > 0 && length <= RECORDER_LIST_MAX && text[length - 1] == '\n') FUZZ_CHECK(result == 1);
    FUZZ_CHECK(g_wRecorderRows == scan.lines);
    std::free(text);
    return 0;
}
