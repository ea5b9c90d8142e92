#include "engine/stick_writer_client.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <filesystem>

#include "engine/media_engine.h"
#include "engine/stick_request.h"
#include "platform/child_process.h"
#include "platform/fd_io.h"
#include "platform/trusted_place.h"

namespace flintmere {
namespace {

bool ParseInt(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

struct VerbShape {
    const char* verb;
    WriterEvent::Kind kind;
    std::size_t fields;
    bool numberFirst;
};
constexpr VerbShape kVerbs[] = {
    {"hello", WriterEvent::Hello, 1, true},    {"pos", WriterEvent::Pos, 1, true},
    {"action", WriterEvent::Action, 1, false}, {"log", WriterEvent::Log, 1, false},
    {"box", WriterEvent::Box, 4, true},        {"close", WriterEvent::Close, 0, false},
    {"status", WriterEvent::Status, 1, true},  {"refused", WriterEvent::Refused, 1, false},
    {"outcome", WriterEvent::Ended, 2, true},
};

// After its grace a cancelled writer's input is closed; after this more the
// window stops waiting (a writer that runs as root cannot be killed from here).
constexpr auto kGiveUpAfterClose = std::chrono::seconds(5);
// pkexec only where the system puts it, never through PATH.
constexpr char kPkexec[] = "/usr/bin/pkexec";

const char16_t kWriterGone[] =
    u"The stick writer ended before the stick was done (%s). The stick may be incomplete: "
    u"write it again.";

const char16_t kNoWriter[] =
    u"The stick writer cannot be started: %s. It runs as root, so it must be in a place only "
    u"root can change: run \"sudo ./install-stick-writer\" in the installation folder. "
    u"Nothing was written.";

const char16_t kWriterDeaf[] =
    u"The stick writer did not stop after Cancel and is no longer waited for. Do not use the "
    u"stick: remove it and write it again.";

}  // namespace

std::optional<WriterEvent> ParseWriterEvent(const ProtocolLine& line) {
    for (const VerbShape& shape : kVerbs) {
        if (line.verb != shape.verb) continue;
        if (line.fields.size() != shape.fields) return std::nullopt;
        WriterEvent event;
        event.kind = shape.kind;
        if (shape.numberFirst && !ParseInt(line.fields[0], event.number)) return std::nullopt;
        if (shape.kind == WriterEvent::Box) {
            if (line.fields[1] != "0" && line.fields[1] != "1") return std::nullopt;
            event.owned = line.fields[1] == "1";
            event.caption = line.fields[2];
            event.text = line.fields[3];
            if (!IsValidUtf8(event.caption) || !IsValidUtf8(event.text)) return std::nullopt;
        } else if (!shape.numberFirst && shape.fields == 1) {
            event.text = line.fields[0];
            if (shape.kind == WriterEvent::Action && !IsValidUtf8(event.text)) return std::nullopt;
        } else if (shape.kind == WriterEvent::Ended) {
            event.text = line.fields[1];
            if (!OutcomeKindFromName(event.text)) return std::nullopt;
        }
        return event;
    }
    return std::nullopt;
}

StickRequest MediaEngine::MakeStickRequest() const {
    StickRequest request;
    request.record = request_;
    request.installFolder = ToPath(request_.m_exeFolder);
    // The window opened a relative logo path from its current folder.
    if (!request_.m_logoFile.empty() && !m_logoSourcePath.empty()) {
        std::error_code ec;
        request.logoPath = std::filesystem::absolute(ToPath(m_logoSourcePath), ec).string();
    }
    if (m_selectedDrive >= 0 && m_selectedDrive < kMaxDrives) {
        const auto index = static_cast<std::size_t>(m_selectedDrive);
        request.diskIdentity = ToPath(m_driveVolumeName[index]);
        request.diskSize = m_driveSize[index];
    }
    return request;
}

std::string MediaEngine::FindStickWriter(std::string& why) const {
    std::vector<std::string> places = m_stickWriterPlaces;
    if (places.empty()) {
        places = {kInstalledStickWriter, ToPath(request_.m_exeFolder) + "/flintmere-stick-writer"};
    }
    why.clear();
    for (const std::string& place : places) {
        if (::access(place.c_str(), X_OK) != 0) continue;
        const std::string problem = WriterPlaceProblem(place);
        if (problem.empty()) return place;
        if (why.empty()) why = place + " cannot run as root here: " + problem;
    }
    if (why.empty()) why = std::string("there is no stick writer at ") + kInstalledStickWriter;
    return {};
}

std::string MediaEngine::StickWriterProblem() const {
    std::string why;
    const std::string writer = FindStickWriter(why);
    if (writer.empty()) return why;
    if (::geteuid() != 0 && (!UntrustedReason(kPkexec).empty() || ::access(kPkexec, X_OK) != 0)) {
        return std::string(kPkexec) + " is not there or not root's alone";
    }
    return {};
}

bool MediaEngine::CheckStickWriter() {
    const std::string why = StickWriterProblem();
    if (why.empty()) return true;
    services_.WriteLog("RunStickWriter(): %s", why.c_str());
    services_.DisplayMessage(FormatW(kNoWriter, Utf8ToUtf16(why)));
    return false;
}

int MediaEngine::RunStickSetup() {
    if (m_stickRunInProcess) return m_stickRunInProcess();
    return RunStickWriter(MakeStickRequest());
}

int MediaEngine::RunStickWriter(const StickRequest& request) {
    m_setupStatus = SetupError;
    m_lastOutcome = Outcome();
    WaitProgressReady();
    if (StopRequested()) return 0;

    // A writer that has gone must not take this process with it.
    sigset_t pipeSignal;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    struct DropPendingPipeSignal {
        sigset_t set;
        ~DropPendingPipeSignal() {
            timespec none{};
            while (::sigtimedwait(&set, nullptr, &none) > 0) {
            }
        }
    } dropPending{pipeSignal};

    std::string why;
    const std::string writer = FindStickWriter(why);
    if (!CheckStickWriter()) {
        CloseProgress();
        return 0;
    }
    std::vector<std::string> argv = {writer};
    if (::geteuid() != 0) argv.insert(argv.begin(), kPkexec);
    services_.WriteLog("RunStickWriter(): starting %s%s", ::geteuid() != 0 ? "pkexec " : "",
                       writer.c_str());
    // Nothing of this session's environment reaches the writer.
    const std::vector<std::string> cleanEnvironment = {std::string("PATH=") + kRootToolPath,
                                                       "LC_ALL=C"};

    UniqueFd toWriter, writerIn, fromWriter, writerOut;
    if (!MakePipe(writerIn, toWriter) || !MakePipe(fromWriter, writerOut)) {
        services_.DisplayErrorMessage(errno);
        CloseProgress();
        return 0;
    }
    ChildProcess child;
    if (const int error = child.Spawn(argv, writerIn.Get(), writerOut.Get(), &cleanEnvironment);
        error != 0) {
        services_.DisplayMessage(FormatW(u"The stick writer could not be started: %s",
                                         AppServices::SystemErrorText(error)));
        CloseProgress();
        return 0;
    }
    writerIn.Reset();
    writerOut.Reset();

    const std::string requestText = FormatStickRequest(request);
    bool inputOpen = WriteAll(toWriter.Get(), requestText.data(), requestText.size());
    auto say = [&](std::string_view verb, const std::vector<std::string>& fields) {
        if (!inputOpen) return;
        const std::string line = FormatLine(verb, fields);
        inputOpen = WriteAll(toWriter.Get(), line.data(), line.size());
    };

    LineReader reader;
    std::optional<int> status;
    Outcome told;
    std::string refused;
    std::string strayOutput;
    bool greeted = false;
    bool cancelSent = false;
    bool inputClosed = false;
    bool abandoned = false;
    std::chrono::steady_clock::time_point cancelAt;
    char buffer[65536];
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        if (StopRequested() && !cancelSent) {
            say("cancel", {});
            cancelSent = true;
            cancelAt = now;
        }
        if (cancelSent && !inputClosed && now - cancelAt > m_writerCancelGrace) {
            services_.WriteLog(
                "RunStickWriter(): the stick writer did not end after cancel; input closed");
            toWriter.Reset();
            inputOpen = false;
            inputClosed = true;
        }
        if (inputClosed && now - cancelAt > m_writerCancelGrace + kGiveUpAfterClose) {
            abandoned = true;
            break;
        }
        pollfd fd{fromWriter.Get(), POLLIN, 0};
        const int ready = ::poll(&fd, 1, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fromWriter.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        while (std::optional<std::string> text = reader.Next()) {
            const std::optional<ProtocolLine> line = ParseLine(*text);
            std::optional<WriterEvent> event = line ? ParseWriterEvent(*line) : std::nullopt;
            // Only what follows the writer's greeting is the writer's.
            if (event && !greeted && event->kind != WriterEvent::Hello) event.reset();
            if (!event) {
                // pkexec and the C library speak on the same channel.
                strayOutput = LogTextFromBytes(*text);
                services_.WriteLog("RunStickWriter(): %s", strayOutput.c_str());
                continue;
            }
            switch (event->kind) {
                case WriterEvent::Hello:
                    greeted = true;
                    if (event->number != kStickProtocolVersion) {
                        refused = "it speaks protocol " + std::to_string(event->number);
                        say("cancel", {});
                        inputOpen = false;
                        toWriter.Reset();
                    }
                    break;
                case WriterEvent::Pos:
                    SetProgressPos(event->number);
                    break;
                case WriterEvent::Action:
                    SetProgressAction(Utf8ToUtf16(event->text));
                    break;
                case WriterEvent::Log:
                    services_.WriteLogLine(event->text);
                    break;
                case WriterEvent::Box: {
                    const int answer = services_.presenter().ShowMessage(
                        Utf8ToUtf16(event->text), Utf8ToUtf16(event->caption),
                        static_cast<unsigned>(event->number), event->owned);
                    say("answer", {std::to_string(answer)});
                    break;
                }
                case WriterEvent::Close:
                    CloseProgress();
                    break;
                case WriterEvent::Status:
                    status = event->number;
                    break;
                case WriterEvent::Refused:
                    refused = event->text;
                    break;
                case WriterEvent::Ended:
                    told.kind = *OutcomeKindFromName(event->text);
                    told.error = event->number;
                    break;
            }
        }
        if (reader.Overflowed()) {
            services_.WriteLog("RunStickWriter(): the stick writer sent a line that is too long");
            child.SignalGroup(SIGKILL);
            break;
        }
    }
    toWriter.Reset();
    if (abandoned) {
        child.Abandon();
        services_.WriteLog(
            "RunStickWriter(): the stick writer did not end after cancel; no longer waited for");
        m_setupStatus = SetupError;
        services_.DisplayMessage(kWriterDeaf);
        CloseProgress();
        return 0;
    }
    child.Reap();
    const int exitCode = child.ExitCode();
    services_.WriteLog("RunStickWriter(): the stick writer ended with status %d", exitCode);

    // The outcome counts only when the exit status says the same.
    if (status && *status == SetupComplete && exitCode != 0) status.reset();
    if (status && *status != SetupComplete && exitCode != 1) status.reset();
    if (status && *status >= SetupError && *status <= SetupBlocked) {
        m_setupStatus = *status;
        told.status = *status;
        m_lastOutcome = told;
        return *status == SetupComplete ? 1 : 0;
    }
    if (StopRequested()) return 0;
    if (!refused.empty()) {
        services_.DisplayMessage(
            Utf8ToUtf16("The stick writer refused to write the stick: " + refused));
    } else if (exitCode == 126 || exitCode == 127) {
        // pkexec: the operator dismissed or failed the authorisation.
        services_.DisplayMessage(u"Writing the stick was not authorised. Nothing was written.");
    } else {
        const std::string why =
            strayOutput.empty() ? "exit status " + std::to_string(exitCode) : strayOutput;
        services_.DisplayMessage(FormatW(kWriterGone, why));
    }
    CloseProgress();
    return 0;
}

}  // namespace flintmere
