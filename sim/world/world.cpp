#include "world/world.h"

#include <cstdio>
#include <cstdlib>

#include "win32/components.h"
#include "win32/files.h"
#include "win32/registry.h"
#include "win32/resources.h"
#include "win32/serial.h"
#include "win32/spooler.h"
#include "win32/ui.h"
#include "world/module_data.h"
#include "world/operator.h"

namespace sim {

World* g_the_world = nullptr;

namespace {

// Days since 1970-01-01 for a civil date, and back (proleptic Gregorian calendar).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}
}  // namespace

void no_world() {
    std::fprintf(stderr, "simulated world: no world exists in this process\n");
    std::abort();
}

World::World(const WorldConfig& config) : config_(config) {
    if (g_the_world) {
        std::fprintf(stderr, "simulated world: only one world may exist at a time\n");
        std::abort();
    }
    g_the_world = this;
    KernelConfig kc;
    kc.seed = config.seed;
    kc.budget = config.budget;
    kc.switch_probability = config.switch_probability;
    kc.empty_read_cost = config.empty_read_cost;
    kernel_ = std::make_unique<Kernel>(kc);
    files_ = std::make_unique<Vfs>(*this);
    registry_ = std::make_unique<Registry>(*this);
    serial_ = std::make_unique<SerialBus>(*this);
    spooler_ = std::make_unique<Spooler>(*this);
    components_ = std::make_unique<Components>(*this);
    resources_ = std::make_unique<Resources>(*this);
    ui_ = std::make_unique<Ui>(*this);
    operator_ = std::make_unique<Operator>(*this);
}

World::~World() {
    operator_.reset();
    ui_.reset();
    resources_.reset();
    components_.reset();
    spooler_.reset();
    serial_.reset();
    registry_.reset();
    files_.reset();
    kernel_.reset();
    g_the_world = nullptr;
}

HINSTANCE World::module_instance() const { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x10000000)); }

void World::load_module() {
    // As Windows maps a library's data afresh into a process, the module starts from its
    // program file's values even when an earlier world in this process had loaded it.
    renew_module_data();
    kernel_->record("module", "DllMain(process attach)");
    DllMain(module_instance(), DLL_PROCESS_ATTACH, nullptr);
}

uint32_t World::tick_count() const {
    return config_.start_tick + static_cast<uint32_t>(kernel_->now() / kMs);
}

SYSTEMTIME World::local_time() const {
    const WallClock& c = config_.start_clock;
    const int64_t start_ms =
        days_from_civil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) * 86400000LL +
        ((c.hour * 60LL + c.minute) * 60LL + c.second) * 1000LL + c.millisecond;
    const int64_t ms = start_ms + static_cast<int64_t>(kernel_->now() / kMs);
    const int64_t days = ms >= 0 ? ms / 86400000LL : (ms - 86399999LL) / 86400000LL;
    int64_t in_day = ms - days * 86400000LL;
    int64_t y;
    unsigned m, d;
    civil_from_days(days, &y, &m, &d);
    SYSTEMTIME st;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    st.wMilliseconds = static_cast<WORD>(in_day % 1000);
    in_day /= 1000;
    st.wSecond = static_cast<WORD>(in_day % 60);
    in_day /= 60;
    st.wMinute = static_cast<WORD>(in_day % 60);
    st.wHour = static_cast<WORD>(in_day / 60);
    return st;
}


}  // namespace sim
