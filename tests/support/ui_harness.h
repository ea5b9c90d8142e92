// One main dialog ready for a scenario: the application over fakes, listed
// sticks, an installation folder, the scripted host and a window with its
// operator. Scenarios act only through op() and observe through surface(),
// so the same scenario runs on any window a factory builds.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/ui_operator.h"
#include "ui/control_ids.h"
#include "ui/flintmere_dlg.h"

// Starts the harness's dialog, or skips the test when the machine cannot
// make the installation folder.
#define FLINTMERE_START_DIALOG(h)                                        \
    do {                                                                 \
        if (!(h).SkipReason().empty()) GTEST_SKIP() << (h).SkipReason(); \
        ASSERT_TRUE((h).Start()) << (h).Dump();                          \
    } while (0)

namespace flintmere::testing {

struct UiHarnessOptions {
    int sticks = 1;             // removable disks listed, 8 GB each
    bool installFolder = true;  // complete installation folder; false: an empty one
};

// What a window front end gives a harness.
struct UiWindow {
    std::unique_ptr<ui::ControlSurface> surface;
    std::unique_ptr<ScriptedOperator> op;
    // The whole window state as text, for a failing check.
    std::function<std::string()> dump;
    // Problems the window noticed (ids the logic used that it does not have).
    std::function<std::vector<std::string>()> problems;
};
using UiWindowFactory = std::function<UiWindow(ui::EventSink& sink)>;

// The in-memory window: every control of the main dialog.
UiWindow MakeMemoryWindow(ui::EventSink& sink);
// The factory harnesses use from now on (default: MakeMemoryWindow).
void SetUiWindowFactory(UiWindowFactory factory);
// A window from the current factory.
UiWindow MakeUiWindow(ui::EventSink& sink);

// A stick as the fake disk service lists it.
RemovableDisk MakeStick(int index, std::uint64_t bytes = 8ull << 30);

class UiHarness {
  public:
    explicit UiHarness(UiHarnessOptions options = {});
    ~UiHarness();
    UiHarness(const UiHarness&) = delete;
    UiHarness& operator=(const UiHarness&) = delete;

    // Runs the dialog's start-up; false when it closed itself.
    bool Start();
    // Skip reason when the machine cannot assemble the installation folder.
    const std::string& SkipReason() const { return skipReason_; }

    ui::ControlSurface& surface() { return *window_.surface; }
    ScriptedOperator& op() { return *window_.op; }
    ui::CflintmereDlg& dialog() { return *dialog_; }
    AppParts& app() { return *app_; }

    // The window state and the log messages since start, for failure output.
    std::string Dump() const;
    std::string WindowDump() const;
    std::vector<std::string> Problems() const;
    // Log messages without their time stamps, in order.
    std::vector<std::string> LogMessages() const;
    // How often `message` was logged.
    int LogCount(const std::string& message) const;
    // Forgets the messages logged so far (LogMessages starts after them).
    void MarkLog();

    TestApp app_;
    FakeDisks disks;
    TempDir dir;
    ScriptedDialogHost host;
    std::string installPath;

  private:
    struct Relay;
    std::unique_ptr<Relay> relay_;
    UiWindow window_;
    std::unique_ptr<ui::CflintmereDlg> dialog_;
    std::string skipReason_;
    std::size_t logMark_ = 0;
};

// The controls a mode's state string covers, in its order: options,
// Single Armed and Invert, partition boxes, host name, IPv4 address, netmask
// and gateway, IPv6 fields, Disable interface, hardware type, General fields,
// database path and "...", node.cfg path and "...".
inline const std::vector<int> kStateColumns = {
    ui::IdChkAutomated,
    ui::IdChkPreInstall,
    ui::IdChkNetBoot,
    ui::IdChkDhcp,
    ui::IdChkUefi,  // options
    ui::IdChkSingleArmed,
    ui::IdChkInvert,  //
    ui::IdChkPartitioned,
    ui::IdChkGpt,
    ui::IdChkLegacyBios,  // partition
    ui::IdHostName,       //
    ui::IdIpAddress,
    ui::IdIpNetmask,
    ui::IdIpGateway,  //
    ui::IdIpv6Address,
    ui::IdIpv6Netmask,
    ui::IdIpv6Gateway,  //
    ui::IdDisableInterface,
    ui::IdHardwareType,  //
    ui::IdDns1,
    ui::IdDns2,
    ui::IdLogicalId,
    ui::IdQmxUrl1,
    ui::IdQmxUrl2,  // General
    ui::IdDbPath,
    ui::IdDbBrowse,
    ui::IdNodePath,
    ui::IdNodeBrowse,  // files
};

// Every check box of the main dialog but "DOS Partition (MBR / Legacy Bios)".
inline const std::vector<int> kCheckBoxesButLegacy = {
    ui::IdChkAutomated, ui::IdChkPreInstall,   ui::IdChkNetBoot,     ui::IdChkDhcp,
    ui::IdChkUefi,      ui::IdChkInvert,       ui::IdChkSingleArmed, ui::IdChkPartitioned,
    ui::IdChkGpt,       ui::IdDisableInterface};

// Compares the controls `ids` with `states`, one letter each (spaces are
// ignored): 'E' enabled and shown, '-' disabled and shown, 'H' hidden and
// disabled. Returns the mismatches, empty when all agree.
std::string CheckStates(ui::ControlSurface& surface, const std::vector<int>& ids,
                        std::string_view states);

// One step of the operator: a click, or the choice of a list entry.
struct UiAct {
    enum Kind { Click, Choose } kind;
    int id;
    int index = 0;
};

// Plays `acts` on the harness's window, in order.
void Play(UiHarness& harness, const std::vector<UiAct>& acts);

// The messages of `log` that start with one of `prefixes`, in order.
std::vector<std::string> Filtered(const std::vector<std::string>& log,
                                  const std::vector<std::string>& prefixes);

}  // namespace flintmere::testing
