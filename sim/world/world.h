// The simulated world: the kernel plus everything the module can reach through Win32 calls —
// files, serial ports, the registry, the print spooler, outside components (host engine
// libraries, COM servers, storage devices), windows and the operator who answers them.
//
// One world at a time. The module's state lives as long as the loaded library: tests run one
// world per process (one test per process through CTest); a program linked with
// module_data.ld has the module's data renewed at each load_module(), as a fresh process would
// have it, and may run one world after another (a swarm's runner processes).
//
//   sim::WorldConfig cfg;  cfg.seed = 7;
//   sim::World world(cfg);
//   world.load_module();                       // DllMain(process attach)
//   world.spawn("host", [] { ... module calls ... });
//   sim::RunResult r = world.run();            // until every simulated thread has ended
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "kernel/fault_counter.h"
#include "kernel/handles.h"
#include "kernel/kernel.h"

namespace sim {

class Vfs;
class Registry;
class SerialBus;
class Spooler;
class Components;
class Ui;
class Resources;
class Operator;

struct WallClock {
    int year = 2026, month = 3, day = 2, hour = 8, minute = 0, second = 0, millisecond = 0;
};

struct WorldConfig {
    uint64_t seed = 1;
    Micros budget = 48 * kHour;        // virtual time after which a run stops with a report
    uint32_t start_tick = 0x00010000;  // GetTickCount at virtual time 0 (wraps after 2^32 ms)
    WallClock start_clock;             // GetLocalTime at virtual time 0
    std::string windows_dir = "C:\\WINDOWS";
    std::string current_dir = "C:\\Program Files\\Host";
    double switch_probability = 0.25;  // see KernelConfig
    Micros empty_read_cost = 250;      // see KernelConfig
    // A window that no operator rule answers is allowed to stay open this long; then the run
    // stops with a report naming it.
    Micros unanswered_window_limit = 2 * kHour;
};

class World {
public:
    explicit World(const WorldConfig& config = WorldConfig());
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const WorldConfig& config() const { return config_; }
    Kernel& kernel() { return *kernel_; }
    HandleTable& handles() { return handles_; }
    Vfs& files() { return *files_; }
    Registry& registry() { return *registry_; }
    SerialBus& serial() { return *serial_; }
    Spooler& spooler() { return *spooler_; }
    Components& components() { return *components_; }
    Ui& ui() { return *ui_; }
    Resources& resources() { return *resources_; }
    Operator& op() { return *operator_; }
    // "Fail call N": one counter per family of calls; the Win32 subset asks them on every call.
    CallFaults& call_faults() { return call_faults_; }

    // The module: its data renewed where the program allows (module_data.h), then DllMain(process
    // attach) with the module's instance handle. Resources of that instance are the module's
    // string table and dialog templates.
    HINSTANCE module_instance() const;
    void load_module();

    // Time as the module sees it.
    uint32_t tick_count() const;  // GetTickCount
    SYSTEMTIME local_time() const;

    // Runs host code as a simulated thread.
    SimThread* spawn(const std::string& name, std::function<void()> body) { return kernel_->spawn(name, std::move(body)); }
    RunResult run(const std::function<bool()>& until = nullptr) { return kernel_->run(until); }
    RunResult run_until_time(Micros t) { return kernel_->run_until_time(t); }

    std::string transcript_text() const { return kernel_->transcript().text(); }
    uint64_t transcript_hash() const { return kernel_->transcript().hash(); }

private:
    WorldConfig config_;
    std::unique_ptr<Kernel> kernel_;
    HandleTable handles_;
    std::unique_ptr<Vfs> files_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<SerialBus> serial_;
    std::unique_ptr<Spooler> spooler_;
    std::unique_ptr<Components> components_;
    std::unique_ptr<Resources> resources_;
    std::unique_ptr<Ui> ui_;
    std::unique_ptr<Operator> operator_;
    CallFaults call_faults_;
};

// The world of this process (aborts when there is none).
// (Inline: every Win32 call of the subset asks for it.)
extern World* g_the_world;
[[noreturn]] void no_world();
inline World& world() {
    if (!g_the_world) no_world();
    return *g_the_world;
}
inline bool has_world() { return g_the_world != nullptr; }

// Entry bookkeeping of every Win32 call in the subset: names the call for deadlock reports and
// offers the scheduler a chance to switch threads (seeded). (Inline: a polling loop makes
// hundreds of thousands of calls per job.)
[[gnu::always_inline]] inline void enter_call(const char* name) {
    if (!g_the_world) return;
    Kernel& k = g_the_world->kernel();
    if (SimThread* t = k.current()) {
        t->current_call = name;
        k.yield_point();
    }
}

}  // namespace sim

// The module's library entry point (src/), called by World::load_module().
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
