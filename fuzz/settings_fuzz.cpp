// The settings: the input up to its first NUL is the settings file "ROVANE_QIX.INI" as it lies on
// the volume; what follows the NUL, when there is one, is the registry value DataPath. The
// module's readers turn them into the data folder, the module paths, the port choice, the job
// flags, the printer name and its tray position, and the automatic four-drive mapping by the
// stored serial numbers.
#include <string>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "fuzz_support.h"
#include "host/job_reset.h"
#include "printer/printer_state.h"
#include "setup/recorders.h"
#include "win32/files.h"
#include "win32/registry.h"

namespace {

const char kDataKey[] = "Software\\Marlune\\VeltoDVD";
const char kSettingsFile[] = "C:\\Data\\ROVANE_QIX.INI";
// Serial numbers of the recorders in the table: a stored number equal to one maps its position.
const char* const kSerials[] = {"SER-A", "SER-B", "SER-C", "SER-D", "SER-A", ""};

std::string stored(const char* key, DWORD size) {
    std::string value(size, '\0');
    GetPrivateProfileStringA(SETTINGS_SECTION, key, "", &value[0], size, g_szSettingsPath);
    return value.c_str();
}

void check_paths() {
    FUZZ_CHECK(fuzz::terminated_within(g_szSettingsPath, sizeof g_szSettingsPath));
    FUZZ_CHECK(fuzz::terminated_within(g_szLogPath, sizeof g_szLogPath));
    const std::string settings = g_szSettingsPath;
    const std::string log = g_szLogPath;
    FUZZ_CHECK(settings.size() >= std::strlen(SETTINGS_FILE_NAME) &&
               settings.compare(settings.size() - std::strlen(SETTINGS_FILE_NAME), std::string::npos,
                                SETTINGS_FILE_NAME) == 0);
    // Both files lie in the same folder.
    FUZZ_CHECK(settings.substr(0, settings.size() - std::strlen(SETTINGS_FILE_NAME)) ==
               log.substr(0, log.size() - std::strlen(LOG_FILE_NAME)));
}

void check_mapping(int mapped) {
    int positions = 0;
    for (int row = 0; row < g_wRecorderRows; ++row) {
        const RecorderEntry& entry = g_Recorders[row];
        FUZZ_CHECK(fuzz::terminated_within(entry.szDescription, sizeof entry.szDescription));
        const char position = g_szPosition[row].szPosition[0];
        if (position == '\0') continue;
        ++positions;
        FUZZ_CHECK(position >= 'A' && position <= 'D' && entry.fSelected);
        FUZZ_CHECK(g_bDriveIndex[position - 'A'] == row);
        // Mapped because its serial number is the one stored for the position.
        static const char* const kKeys[] = {KEY_DRIVE1_SERIAL, KEY_DRIVE2_SERIAL, KEY_DRIVE3_SERIAL, KEY_DRIVE4_SERIAL};
        FUZZ_CHECK(entry.szSerial[0] != '\0' && stored(kKeys[position - 'A'], DRIVE_SERIAL_SIZE) == entry.szSerial);
    }
    FUZZ_CHECK(positions <= 4);
    FUZZ_CHECK(mapped == (positions == 4 ? 1 : 0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sim::World& world = fuzz::world();
    world.files().mkdir("C:\\Data");
    CreateModuleLock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::World& world = fuzz::world();
    const char* text = reinterpret_cast<const char*>(data);
    const size_t file_size = strnlen(text, size);
    const std::string file(text, file_size);

    // The data folder from the registry, and the paths made from it.
    if (file_size < size) {
        const std::string value(text + file_size + 1, size - file_size - 1);
        world.registry().set_value(HKEY_LOCAL_MACHINE, kDataKey, "DataPath", REG_SZ, value);
        char folder[DATA_PATH_SIZE + 8];
        std::memset(folder, 'x', sizeof folder);
        const int found = LookupDataPath("VeltoDVD", folder);
        FUZZ_CHECK(found == (value.size() <= DATA_PATH_SIZE ? 1 : 0));
        if (found) {
            FUZZ_CHECK(fuzz::terminated_within(folder, DATA_PATH_SIZE));
            FUZZ_CHECK(std::strncmp(folder, value.c_str(), DATA_PATH_SIZE - 1) == 0);
        } else {
            FUZZ_CHECK(folder[0] == 'x');
        }
    } else {
        world.registry().remove_value(HKEY_LOCAL_MACHINE, kDataKey, "DataPath");
    }
    SetModulePaths("VeltoDVD");
    check_paths();

    // The settings file itself; the log stays off.
    std::strcpy(g_szSettingsPath, kSettingsFile);
    g_szLogPath[0] = '\0';
    FUZZ_CHECK(world.files().write_file(kSettingsFile, file));

    const int port = ReadPortChoice();
    const std::string com = stored(KEY_COM, COM_VALUE_SIZE);
    FUZZ_CHECK(port == (com == "COM2" ? 1 : com == "COM3" ? 2 : com == "COM4" ? 3 : 0));

    InitGlobals();
    // A flag is on for any non-zero value, negative ones included.
    FUZZ_CHECK(g_fRecordPrint == (GetPrivateProfileIntA(SETTINGS_SECTION, KEY_RECORD_PRINT, 1, g_szSettingsPath) != 0));
    FUZZ_CHECK(g_fMinimizePrintDlg ==
               (GetPrivateProfileIntA(SETTINGS_SECTION, KEY_MINIMIZE_PRINTDLG, 1, g_szSettingsPath) != 0));

    std::memset(g_szPrinterName, 'x', sizeof g_szPrinterName);
    GetPrivateProfileStringA(SETTINGS_SECTION, KEY_PRINTER, "", g_szPrinterName, PRINTER_VALUE_SIZE, g_szSettingsPath);
    FUZZ_CHECK(fuzz::terminated_within(g_szPrinterName, PRINTER_VALUE_SIZE));
    const char tray = PrinterPositionFor(g_szPrinterName);
    FUZZ_CHECK(tray == (std::strncmp(g_szPrinterName, "Optical Disc Printer", 20) == 0 ? 'I' : 'S'));

    ClearRecorders();
    for (const char* serial : kSerials) {
        const int row = AddRecorder(g_wRecorderRows, 0, 4, 0, static_cast<char>('E' + g_wRecorderRows), "DRIVE");
        std::strcpy(g_Recorders[row].szSerial, serial);
    }
    check_mapping(MapFourDrivesAutomatically());
    return 0;
}
