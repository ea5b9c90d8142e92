// What the stick benchmarks share: the real sequence over an admitted loop
// device, a typed configuration, and a stopwatch.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "app/flintmere_app.h"
#include "no_pause_clock.h"

namespace flintmere {

// The real application object without its fixed pauses; boxes go to standard error.
struct BenchApp {
    NoPauseClock clock;
    ConsolePresenter presenter;
    LinuxSystemEnv env;
    CflintmereApp app{{clock, presenter, env, {}}};
};

// Points `app` at the installation folder, types a configuration and selects
// the loop device `loop` (which `disks` admits). False when it is not listed.
inline bool PrepareStickRun(AppParts& app, LinuxDiskService& disks, const std::string& loop,
                            const std::string& folder) {
    app.engine.SetDiskService(&disks);
    app.record.m_exeFolder = FromPath(folder);
    app.record.m_distFolder = FromPath(folder + "/kx/");
    app.record.ResetConfiguration(true);
    app.record.m_configSource = ConfigGenerateNodeFile;
    app.record.m_serverName = u"sbc-bench";
    app.record.m_lanAddress = u"192.0.2.10";
    app.record.m_lanNetmask = u"255.255.255.0";
    app.record.m_gateway = u"192.0.2.1";
    app.record.m_hwType = HwLegacyBios;
    app.record.m_partitioned = 1;
    app.record.m_gptPartition = 0;
    app.record.m_legacyBios = 1;
    MediaList list;
    app.engine.RefreshDevices(list);
    app.engine.m_selectedDrive = -1;
    for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
        if (ToPath(list.entries[i]).rfind("/dev/" + loop + " ", 0) == 0) {
            app.engine.m_selectedDrive = static_cast<int>(i);
        }
    }
    if (app.engine.m_selectedDrive >= 0) return true;
    std::fprintf(stderr, "%s is not a usable loop device\n", loop.c_str());
    return false;
}

// Seconds `run` took, or -1 when it returned false.
template <typename Run>
double Seconds(Run&& run) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = run();
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ok ? took : -1.0;
}

}  // namespace flintmere
