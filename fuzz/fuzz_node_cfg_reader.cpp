// Feeds arbitrary bytes to the node.cfg reader as if an operator had picked
// that file, then writes the accepted record back out and reads it again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/flintmere_app.h"

namespace flintmere {
namespace {

class StillClock final : public Clock {
  public:
    std::time_t Now() override { return 1765197853; }
    bool Sleep(std::chrono::milliseconds, std::stop_token stop) override {
        return !stop.stop_requested();
    }
};

class NoTempEnv final : public SystemEnv {
  public:
    u16 TempFolder() override { return {}; }  // no log file
    u16 ExecutablePath() override { return u"/opt/flintmere/flintmere"; }
};

class CountingPresenter final : public Presenter {
  public:
    int ShowMessage(const u16&, const u16& caption, unsigned, bool) override {
        if (caption != u"Error") std::abort();
        ++shown;
        return kIdOk;
    }
    int shown = 0;
};

// A medium that keeps the one file written to it in memory.
class MemoryRoot final : public MediaRoot {
  public:
    u16 DisplayPath(std::string_view relPath) const override { return FromPath(relPath); }
    bool MakeFolder(std::string_view) override { return true; }
    bool WriteFile(std::string_view, std::span<const std::uint8_t> data) override {
        bytes.assign(data.begin(), data.end());
        return true;
    }
    bool FileExists(std::string_view) override { return !bytes.empty(); }
    bool CopyFileIn(const std::string&, std::string_view, const ChunkProgress&) override {
        return false;
    }
    int LastError() const override { return 0; }
    std::vector<std::uint8_t> bytes;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsFlag(Flag f) {
    return f == 0 || f == 1;
}

}  // namespace
}  // namespace flintmere

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace flintmere;
    StillClock clock;
    NoTempEnv env;
    CountingPresenter presenter;
    CflintmereApp whole(PlatformServices{clock, presenter, env, [](std::string_view) {}});
    AppParts& app = whole.parts;

    std::vector<std::uint8_t> input(data, data + size);
    app.record.ResetConfiguration(true);
    bool accepted = app.config.LoadNodeFileData(app.record, u"fuzz.cfg", input);

    Check(app.record.m_nodeFileData == input);
    Check(presenter.shown == (accepted ? 0 : 1));
    Check(app.record.m_legacyBios == 1);
    for (Flag f : {app.record.m_lanDisabled, app.record.m_wanDisabled, app.record.m_adminDisabled,
                   app.record.m_partitioned, app.record.m_gptPartition, app.record.m_uefi,
                   app.record.m_preinstall, app.record.m_autoinstall, app.record.m_netboot,
                   app.record.m_dhcp, app.record.m_invert, app.record.m_singleArmed}) {
        Check(IsFlag(f));
    }
    if (!accepted) {
        Check(app.record.m_serverName == u"unnamed" && app.record.m_lanAddress.empty());
        return 0;
    }
    Check(!app.record.m_serverName.empty() && !app.record.m_lanAddress.empty());
    Check(!app.record.m_gptPartition || app.record.m_partitioned);

    // What was accepted must survive a write and a second read.
    const u16 label = app.record.m_serverName;
    const u16 lanAddress = app.record.m_lanAddress;
    const bool dhcp = app.record.m_dhcp != 0;
    MemoryRoot root;
    Check(app.config.CreateNodeCfgFile(app.record, root, false));
    Check(!root.bytes.empty() && root.bytes.back() == '\n');
    app.record.ResetConfiguration(true);
    Check(app.config.LoadNodeFileData(app.record, u"fuzz.cfg", root.bytes));
    Check(app.record.m_serverName == label);
    Check(app.record.m_lanAddress == (dhcp ? u16(u"0.0.0.0") : lanAddress));
    return 0;
}
