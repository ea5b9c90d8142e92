#include "support/ui_harness.h"

#include <filesystem>

#include "support/install_folder.h"
#include "support/memory_operator.h"
#include "support/memory_surface.h"

namespace flintmere::testing {

namespace {

UiWindowFactory& Factory() {
    static UiWindowFactory factory = MakeMemoryWindow;
    return factory;
}

}  // namespace

UiWindow MakeMemoryWindow(ui::EventSink& sink) {
    auto surface = std::make_unique<ui::MemorySurface>();
    ui::RegisterMainDialogControls(*surface);
    ui::MemorySurface* memory = surface.get();
    UiWindow window;
    window.op = std::make_unique<MemoryOperator>(*memory, sink);
    window.dump = [memory] { return memory->Dump(); };
    window.problems = [memory] {
        std::vector<std::string> problems;
        for (int id : memory->UnknownIds())
            problems.push_back("unknown control " + std::to_string(id));
        return problems;
    };
    window.surface = std::move(surface);
    return window;
}

void SetUiWindowFactory(UiWindowFactory factory) {
    Factory() = std::move(factory);
}

UiWindow MakeUiWindow(ui::EventSink& sink) {
    return Factory()(sink);
}

RemovableDisk MakeStick(int index, std::uint64_t bytes) {
    RemovableDisk disk;
    const char letter = static_cast<char>('b' + index);
    disk.name = std::string("sd") + letter;
    disk.devicePath = "/dev/" + disk.name;
    disk.identity = disk.name + ":" + std::to_string(100 + index);
    disk.description = "Test Stick";
    disk.deviceNumber = 0x800 + 16 * (index + 1);
    disk.lengthBytes = bytes;
    disk.geometry = DiskGeometry::FromLength(bytes, 512);
    return disk;
}

// Forwards the window's events to the dialog, which is built after the window.
struct UiHarness::Relay final : ui::EventSink {
    ui::EventSink* target = nullptr;
    void OnControlEvent(int id, ui::ControlEvent event) override {
        if (target) target->OnControlEvent(id, event);
    }
};

UiHarness::UiHarness(UiHarnessOptions options) : relay_(std::make_unique<Relay>()) {
    installPath = dir / "install";
    if (options.installFolder) {
        const InstallFolder made = MakeInstallFolder(installPath);
        if (made.MissingPackages()) skipReason_ = made.error;
    } else {
        std::filesystem::create_directories(installPath);
    }
    app_.env.tempFolder = FromPath(dir.Path() + "/");
    app_.env.executablePath = FromPath(installPath + "/flintmere");
    app_.app->DeriveFolders();
    app_->services.OpenLog();
    for (int i = 0; i < options.sticks; ++i) disks.disks.push_back(MakeStick(i));
    app_->engine.SetDiskService(&disks);

    window_ = MakeUiWindow(*relay_);
    dialog_ = std::make_unique<ui::CflintmereDlg>(app_.app->parts, *window_.surface, host);
    relay_->target = dialog_.get();
}

UiHarness::~UiHarness() {
    app_->engine.CancelWorker();
}

bool UiHarness::Start() {
    return dialog_->OnInitDialog();
}

std::string UiHarness::Dump() const {
    std::string out = window_.dump ? window_.dump() : std::string();
    out += "log:\n";
    for (const std::string& line : LogMessages()) out += "  " + line + "\n";
    return out;
}

std::string UiHarness::WindowDump() const {
    return window_.dump ? window_.dump() : std::string();
}

std::vector<std::string> UiHarness::Problems() const {
    return window_.problems ? window_.problems() : std::vector<std::string>();
}

std::vector<std::string> UiHarness::LogMessages() const {
    const std::string text = ReadFileBytes(app_.app->parts.services.m_logFile.Path());
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        // "[Wed Dec 09 14:24:13] message"
        if (line.size() >= 22 && line[0] == '[' && line[20] == ']') line = line.substr(22);
        lines.push_back(std::move(line));
        at = end + 2;
    }
    if (logMark_ >= lines.size()) return {};
    return {lines.begin() + static_cast<std::ptrdiff_t>(logMark_), lines.end()};
}

int UiHarness::LogCount(const std::string& message) const {
    int count = 0;
    for (const std::string& line : LogMessages()) count += line == message ? 1 : 0;
    return count;
}

void UiHarness::MarkLog() {
    logMark_ += LogMessages().size();
}

void Play(UiHarness& harness, const std::vector<UiAct>& acts) {
    for (const UiAct& a : acts) {
        if (a.kind == UiAct::Click) {
            harness.op().Click(a.id);
        } else {
            harness.op().Choose(a.id, a.index);
        }
    }
}

std::string CheckStates(ui::ControlSurface& surface, const std::vector<int>& ids,
                        std::string_view states) {
    std::string letters;
    for (char c : states) {
        if (c != ' ') letters += c;
    }
    if (letters.size() != ids.size()) {
        return FormatA("%zu states for %zu controls\n", letters.size(), ids.size());
    }
    std::string out;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const bool shown = surface.IsShown(ids[i]);
        const bool enabled = surface.IsEnabled(ids[i]);
        const char actual = !shown ? (enabled ? 'h' : 'H') : (enabled ? 'E' : '-');
        if (actual != letters[i]) {
            out += FormatA("control %d: expected %c, is %c\n", ids[i], letters[i], actual);
        }
    }
    return out;
}

std::vector<std::string> Filtered(const std::vector<std::string>& log,
                                  const std::vector<std::string>& prefixes) {
    std::vector<std::string> out;
    for (const std::string& line : log) {
        for (const std::string& prefix : prefixes) {
            if (line.starts_with(prefix)) {
                out.push_back(line);
                break;
            }
        }
    }
    return out;
}

}  // namespace flintmere::testing
