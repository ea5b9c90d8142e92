// Fuzzes the configuration database import from bytes in memory.
#include <cstddef>
#include <cstdint>
#include <span>

#include "config/config_model.h"

namespace {

using namespace flintmere;

class QuietClock final : public Clock {
  public:
    std::time_t Now() override { return 1765197853; }
    bool Sleep(std::chrono::milliseconds, std::stop_token) override { return true; }
};

class QuietPresenter final : public Presenter {
  public:
    int ShowMessage(const u16& text, const u16&, unsigned, bool) override {
        shownChars += text.size();
        return kIdOk;
    }
    std::size_t shownChars = 0;
};

class NoEnv final : public SystemEnv {
  public:
    u16 TempFolder() override { return {}; }
    u16 ExecutablePath() override { return u"/opt/flintmere/flintmere"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QuietClock clock;
    QuietPresenter presenter;
    NoEnv env;
    AppServices services(PlatformServices{clock, presenter, env, [](std::string_view) {}});
    SetupRecord model;
    model.ResetConfiguration(true);  // as OpenDbFile does before reading
    const bool imported =
        ConfigModel(services).ImportDbData(model, std::span<const std::uint8_t>(data, size));
    // Whatever the input, a failed import leaves the record reset.
    if (!imported && (model.m_serverName != u"unnamed" || !model.m_lanAddress.empty())) {
        __builtin_trap();
    }
    // A logo name never carries a path.
    if (model.m_logoFile.find_first_of(u"/\\") != u16::npos || model.m_logoFile == u"..") {
        __builtin_trap();
    }
    return 0;
}
