// The Win32 conformance cases in the simulated world: the machine of conformance.h set up through
// the world's API (a folder, the registry values, an echoing device on the serial port, a local
// printer, an operator who presses the button a message box names), then the cases on a
// simulated thread, on the virtual clock. Prints one line per case on stdout; exit 1 when the run
// does not finish cleanly.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "conformance.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/serial.h"
#include "win32/spooler.h"
#include "world/operator.h"
#include "world/world.h"

namespace {

// The far end of the port: sends every byte it receives straight back.
class EchoDevice : public sim::SerialDevice {
public:
    void attached(sim::SerialLine& line) override { line_ = &line; }
    void on_byte(uint8_t byte) override { line_->device_send(&byte, 1); }
    uint32_t baud_rate() const override { return CONF_PORT_BAUD; }

private:
    sim::SerialLine* line_ = nullptr;
};

}  // namespace

int main() {
    sim::WorldConfig config;
    config.seed = 1;
    sim::World world(config);

    world.files().mkdir(CONF_FOLDER);

    sim::Registry& reg = world.registry();
    reg.set_string(HKEY_LOCAL_MACHINE, CONF_KEY, "DataPath", "C:\\Conformance\\");
    reg.set_string(HKEY_LOCAL_MACHINE, CONF_KEY, "Text", "hello");
    reg.set_string(HKEY_LOCAL_MACHINE, CONF_KEY, "Empty", "");
    reg.set_value(HKEY_LOCAL_MACHINE, CONF_KEY, "NoNul", REG_SZ, "abc");
    reg.set_dword(HKEY_LOCAL_MACHINE, CONF_KEY, "Number", 0x12345678);
    reg.set_binary(HKEY_LOCAL_MACHINE, CONF_KEY, "Blob", std::string("\x01\x02\x03\x00\x05", 5));
    reg.set_value(HKEY_LOCAL_MACHINE, CONF_KEY, "Expand", REG_EXPAND_SZ, std::string("%WINDIR%\\x", 11));
    reg.set_value(HKEY_LOCAL_MACHINE, CONF_KEY, "Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6));
    reg.set_value(HKEY_LOCAL_MACHINE, CONF_KEY "\\Sub", "Placeholder", REG_NONE, "");
    reg.remove_value(HKEY_LOCAL_MACHINE, CONF_KEY "\\Sub", "Placeholder");

    world.serial().attach(CONF_PORT, std::make_shared<EchoDevice>());

    sim::PrinterConfig printer;
    printer.name = CONF_PRINTER;
    printer.port = CONF_PRINTER_PORT;
    printer.driver = CONF_PRINTER_DRIVER;
    world.spooler().add_printer(printer);

    for (int button = IDOK; button <= IDNO; ++button)
        world.op().on_message_box("[answer " + std::to_string(button) + "]").answer(button);

    ConformanceEnv env;
    env.resources = world.module_instance();
    env.under_wine = 0;
    world.spawn("conformance", [&] { run_conformance_cases(&env); });
    const sim::RunResult r = world.run();
    if (!r.ok()) {
        std::fprintf(stderr, "win32-conformance: the world's run did not finish cleanly:\n%s\n", r.report.c_str());
        return 1;
    }
    return 0;
}
