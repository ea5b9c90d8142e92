#include "helper/stick_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "config/node_cfg_tokens.h"
#include "config/request_checks.h"
#include "engine/media_engine.h"
#include "engine/stick_request.h"
#include "helper/clean_start.h"
#include "helper/held_disk.h"
#include "helper/root_disk_service.h"
#include "helper/writer_channel.h"
#include "platform/caller_rights.h"
#include "platform/system_env.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

constexpr std::size_t kMaxLogoBytes = 50 * 1024;
// After a cancel the run ends within this, before the window stops waiting.
constexpr auto kCancelDeadline = std::chrono::seconds(20);

// Reads the request; on failure `error` says why.
std::optional<StickRequest> ReadRequest(int in, LineReader& reader, std::string& error) {
    StickRequestParser parser;
    char buffer[65536];
    while (true) {
        while (std::optional<std::string> line = reader.Next()) {
            switch (parser.Add(*line)) {
                case StickRequestParser::Step::More:
                    break;
                case StickRequestParser::Step::Done:
                    return parser.Request();
                case StickRequestParser::Step::Failed:
                    error = parser.Error();
                    return std::nullopt;
            }
        }
        if (reader.Overflowed()) {
            error = "a request line is too long";
            return std::nullopt;
        }
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = parser.Error();
            return std::nullopt;
        }
        reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
}

// The logo, read as the caller would read it: a plain file of at most 50 KB.
bool ReadLogo(const std::string& path, std::vector<std::uint8_t>& data, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
        error = "cannot read the logo " + path + ": " + AppServices::SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > kMaxLogoBytes) {
        error = "the logo " + path + " is not a plain file of at most 50 KB";
        return false;
    }
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.Get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return true;
}

class FixedEnv final : public SystemEnv {
  public:
    explicit FixedEnv(std::string exe) : exe_(std::move(exe)) {}
    u16 TempFolder() override { return {}; }
    u16 ExecutablePath() override { return FromPath(exe_); }

  private:
    std::string exe_;
};

}  // namespace

int RunStickWriter(int in, int out, StickWriterPlatform& platform) {
    LineWriter writer(out);
    writer.Send("hello", {std::to_string(kStickProtocolVersion)});
    auto refuse = [&writer](int status, const std::string& why) {
        writer.Send("refused", {why});
        return status;
    };

    LineReader reader;
    std::string error;
    std::optional<StickRequest> request = ReadRequest(in, reader, error);
    if (!request) return refuse(WriterMalformed, error);

    // The window refuses these too; a request that carries one is not the window's.
    const std::vector<SplittingValue> splitting = FindSplittingValues(request->record);
    if (!splitting.empty()) {
        return refuse(WriterRefused, std::string("the ") + splitting.front().field + " " +
                                         Utf16ToUtf8(RefusalReason(splitting.front())) +
                                         " and would change node.cfg");
    }

    if (const u16 invalid = RecordRequestError(request->record); !invalid.empty()) {
        return refuse(WriterRefused,
                      "the window would refuse this request: " + Utf16ToUtf8(invalid));
    }

    std::optional<Caller> caller = CallerOfThisRun(error);
    if (!caller) return refuse(WriterRefused, error);

    // The installation folder is data, read with the caller's rights; tools
    // come only from this program's own folder, which only root can change.
    const std::string folder = request->installFolder;
    if (folder.size() < 2 || folder.front() != '/' || folder.back() == '/' ||
        folder.find("/../") != std::string::npos || folder.find('\0') != std::string::npos) {
        return refuse(WriterRefused,
                      "the installation folder " + folder + " is not a plain absolute path");
    }

    std::vector<std::uint8_t> logo;
    error.clear();
    std::thread reading([&] {
        if (!ActAsCallerOnThisThread(*caller)) {
            error = "cannot take the caller's file rights";
            return;
        }
        // Opened, not access()ed: access() asks with the real ids, which are root's.
        const UniqueFd kx(::open((folder + "/kx").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const UniqueFd cfg(
            ::open((folder + "/syslinux/syslinux.cfg").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!kx.Valid() || !cfg.Valid()) {
            error = "the installation folder " + folder +
                    " is not an installation folder that its caller can read";
            return;
        }
        if (!request->logoPath.empty() && !ReadLogo(request->logoPath, logo, error)) logo.clear();
    });
    reading.join();
    if (!error.empty()) return refuse(WriterRefused, error);

    RootDiskService lister(platform.disks);
    const std::vector<RemovableDisk> listed = lister.ListRemovableDisks();
    const RemovableDisk* chosen = nullptr;
    for (const RemovableDisk& disk : listed) {
        if (disk.identity == request->diskIdentity) chosen = &disk;
    }
    if (!chosen) {
        return refuse(WriterRefused, "the disk " + request->diskIdentity +
                                         " is not a removable USB disk attached now");
    }
    // From here to the end of the read-back the name stays on this disk.
    HeldDiskService held(platform.disks);
    {
        const RootFileAccess asRoot;
        if (!held.Hold(*chosen, request->diskSize, error)) return refuse(WriterRefused, error);
    }
    RootDiskService disks(held);

    WriterPresenter presenter(writer);
    FixedEnv env(platform.ownFolder + "/flintmere-stick-writer");
    AppServices services(PlatformServices{platform.clock, presenter, env, {}});
    services.SetLogSink(
        [&writer](std::string_view line) { writer.Send("log", {std::string(line)}); });
    // The request as the window built it, in the folder the writer checked.
    SetupRecord setup = request->record;
    setup.m_exeFolder = FromPath(folder);
    setup.m_distFolder = FromPath(folder + "/kx/");
    setup.m_logoData = std::move(logo);
    MediaEngine app(services, setup);
    app.m_toolFolder = FromPath(platform.ownFolder);
    app.SetDiskService(&disks);
    MediaList list;
    app.RefreshDevices(list);
    app.m_selectedDrive = -1;
    for (int i = 0; i < kMaxDrives; ++i) {
        if (ToPath(app.m_driveVolumeName[static_cast<std::size_t>(i)]) == chosen->identity) {
            app.m_selectedDrive = i;
        }
    }
    WriterProgress progress(writer);
    app.m_pProgressDlg = &progress;

    std::atomic<bool> cancel{false};
    WindowInput input(in, std::move(reader), [&cancel] { cancel = true; });
    presenter.SetInput(&input);
    // A window that stops reading is gone: the stick is not held for it.
    writer.OnStalled([&cancel] { cancel = true; });

    const Caller asCaller = *caller;
    app.StartWorker([&app, asCaller] {
        if (!ActAsCallerOnThisThread(asCaller)) {
            return app.EndRun(
                Outcome::Said(OutcomeKind::Refused,
                              u"The stick writer could not take the caller's file rights."));
        }
        return app.SetupUSB();
    });
    while (app.WorkerRunning() && !cancel) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (cancel) {
        // The window stops waiting after its own grace; end before it does,
        // whatever a tool or the stick is doing.
        std::jthread deadline([&writer](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, kCancelDeadline, [] { return false; });
            if (stop.stop_requested()) return;
            writer.Send("status", {std::to_string(SetupCanceled)});
            std::_Exit(WriterNotComplete);
        });
        app.CancelSetup();
    } else {
        app.WaitWorker();
    }
    const int status = app.m_setupStatus.load();
    // What failed, for a caller that keeps count of failures by kind.
    const OutcomeKind kind =
        status == SetupCanceled ? OutcomeKind::Canceled : app.m_lastOutcome.kind;
    writer.Send("outcome",
                {std::to_string(app.m_lastOutcome.error), std::string(OutcomeKindName(kind))});
    writer.Send("status", {std::to_string(status)});
    return status == SetupComplete ? WriterComplete : WriterNotComplete;
}

int StickWriterMain(DiskService& disks, Clock& clock) {
    // Before anything else: nothing of the caller's may shape what runs as root.
    PrivateTemp temp;
    std::string error;
    std::string self;
    if (CleanStart(temp, error)) {
        LinuxSystemEnv env;
        self = ToPath(env.ExecutablePath());
        if (const std::string why = OwnPlaceProblem(self); !why.empty()) {
            error = why +
                    "; only root may be able to change what runs as root (install it with "
                    "sudo ./install-stick-writer in the installation folder)";
        }
    }
    if (!error.empty()) {
        std::fprintf(stderr, "flintmere-stick-writer: refusing to start: %s\n", error.c_str());
        LineWriter writer(STDOUT_FILENO);
        writer.Send("hello", {std::to_string(kStickProtocolVersion)});
        writer.Send("refused", {error});
        return WriterUntrustedPlace;
    }
    StickWriterPlatform platform{disks, clock, self.substr(0, self.rfind('/'))};
    return RunStickWriter(STDIN_FILENO, STDOUT_FILENO, platform);
}

}  // namespace flintmere
