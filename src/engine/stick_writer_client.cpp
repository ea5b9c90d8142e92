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

StickRequest StickWriterClient::MakeStickRequest() const {
    const SetupRecord& setup = engine_.request();
    StickRequest request;
    request.record = setup;
    request.installFolder = ToPath(setup.m_exeFolder);
    // The window opened a relative logo path from its current folder.
    if (!setup.m_logoFile.empty() && !m_logoSourcePath.empty()) {
        std::error_code ec;
        request.logoPath = std::filesystem::absolute(ToPath(m_logoSourcePath), ec).string();
    }
    const int selected = engine_.m_selectedDrive;
    if (selected >= 0 && selected < kMaxDrives) {
        const auto index = static_cast<std::size_t>(selected);
        request.diskIdentity = ToPath(engine_.m_driveVolumeName[index]);
        request.diskSize = engine_.m_driveSize[index];
    }
    return request;
}

std::string StickWriterClient::FindStickWriter(std::string& why) const {
    std::vector<std::string> places = m_stickWriterPlaces;
    if (places.empty()) {
        places = {kInstalledStickWriter,
                  ToPath(engine_.request().m_exeFolder) + "/flintmere-stick-writer"};
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

std::string StickWriterClient::StickWriterProblem() const {
    std::string why;
    const std::string writer = FindStickWriter(why);
    if (writer.empty()) return why;
    if (::geteuid() != 0 && (!UntrustedReason(kPkexec).empty() || ::access(kPkexec, X_OK) != 0)) {
        return std::string(kPkexec) + " is not there or not root's alone";
    }
    return {};
}

bool StickWriterClient::CheckStickWriter() {
    const std::string why = StickWriterProblem();
    if (why.empty()) return true;
    engine_.services().WriteLog("RunStickWriter(): %s", why.c_str());
    engine_.services().DisplayMessage(FormatW(kNoWriter, Utf8ToUtf16(why)));
    return false;
}

int StickWriterClient::RunStickSetup() {
    if (m_stickRunInProcess) return m_stickRunInProcess();
    return RunStickWriter(MakeStickRequest());
}

// One run of the writer as the window sees it.
struct StickWriterClient::Session {
    UniqueFd toWriter;
    UniqueFd fromWriter;
    ChildProcess child;
    bool inputOpen = false;
    LineReader reader;
    std::optional<int> status;
    Outcome told;
    std::string refused;
    std::string strayOutput;
    bool greeted = false;
    bool cancelSent = false;
    bool inputClosed = false;
    std::chrono::steady_clock::time_point cancelAt;

    void Say(std::string_view verb, const std::vector<std::string>& fields) {
        if (!inputOpen) return;
        const std::string line = FormatLine(verb, fields);
        inputOpen = WriteAll(toWriter.Get(), line.data(), line.size());
    }
};

int StickWriterClient::RunStickWriter(const StickRequest& request) {
    AppServices& services = engine_.services();
    engine_.m_setupStatus = SetupError;
    engine_.m_lastOutcome = Outcome();
    engine_.WaitProgressReady();
    if (engine_.StopRequested()) return 0;

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
        engine_.CloseProgress();
        return 0;
    }
    std::vector<std::string> argv = {writer};
    if (::geteuid() != 0) argv.insert(argv.begin(), kPkexec);
    services.WriteLog("RunStickWriter(): starting %s%s", ::geteuid() != 0 ? "pkexec " : "",
                      writer.c_str());
    // Nothing of this session's environment reaches the writer.
    const std::vector<std::string> cleanEnvironment = {std::string("PATH=") + kRootToolPath,
                                                       "LC_ALL=C"};

    Session session;
    UniqueFd writerIn, writerOut;
    if (!MakePipe(writerIn, session.toWriter) || !MakePipe(session.fromWriter, writerOut)) {
        services.DisplayErrorMessage(errno);
        engine_.CloseProgress();
        return 0;
    }
    if (const int error =
            session.child.Spawn(argv, writerIn.Get(), writerOut.Get(), &cleanEnvironment);
        error != 0) {
        services.DisplayMessage(FormatW(u"The stick writer could not be started: %s",
                                        AppServices::SystemErrorText(error)));
        engine_.CloseProgress();
        return 0;
    }
    writerIn.Reset();
    writerOut.Reset();

    const std::string requestText = FormatStickRequest(request);
    session.inputOpen = WriteAll(session.toWriter.Get(), requestText.data(), requestText.size());
    const bool ended = Relay(session);
    session.toWriter.Reset();
    if (!ended) {
        session.child.Abandon();
        services.WriteLog(
            "RunStickWriter(): the stick writer did not end after cancel; no longer waited for");
        engine_.m_setupStatus = SetupError;
        services.DisplayMessage(kWriterDeaf);
        engine_.CloseProgress();
        return 0;
    }
    return Finish(session);
}

bool StickWriterClient::Relay(Session& session) {
    AppServices& services = engine_.services();
    char buffer[65536];
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        if (engine_.StopRequested() && !session.cancelSent) {
            session.Say("cancel", {});
            session.cancelSent = true;
            session.cancelAt = now;
        }
        if (session.cancelSent && !session.inputClosed &&
            now - session.cancelAt > m_writerCancelGrace) {
            services.WriteLog(
                "RunStickWriter(): the stick writer did not end after cancel; input closed");
            session.toWriter.Reset();
            session.inputOpen = false;
            session.inputClosed = true;
        }
        if (session.inputClosed &&
            now - session.cancelAt > m_writerCancelGrace + kGiveUpAfterClose) {
            return false;
        }
        pollfd fd{session.fromWriter.Get(), POLLIN, 0};
        const int ready = ::poll(&fd, 1, 100);
        if (ready < 0 && errno != EINTR) return true;
        if (ready <= 0) continue;
        const ssize_t n = ::read(session.fromWriter.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        session.reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        while (std::optional<std::string> text = session.reader.Next()) {
            const std::optional<ProtocolLine> line = ParseLine(*text);
            std::optional<WriterEvent> event = line ? ParseWriterEvent(*line) : std::nullopt;
            // Only what follows the writer's greeting is the writer's.
            if (event && !session.greeted && event->kind != WriterEvent::Hello) event.reset();
            if (!event) {
                // pkexec and the C library speak on the same channel.
                session.strayOutput = LogTextFromBytes(*text);
                services.WriteLog("RunStickWriter(): %s", session.strayOutput.c_str());
                continue;
            }
            Handle(session, *event);
        }
        if (session.reader.Overflowed()) {
            services.WriteLog("RunStickWriter(): the stick writer sent a line that is too long");
            session.child.SignalGroup(SIGKILL);
            return true;
        }
    }
}

void StickWriterClient::Handle(Session& session, const WriterEvent& event) {
    AppServices& services = engine_.services();
    switch (event.kind) {
        case WriterEvent::Hello:
            session.greeted = true;
            if (event.number != kStickProtocolVersion) {
                session.refused = "it speaks protocol " + std::to_string(event.number);
                session.Say("cancel", {});
                session.inputOpen = false;
                session.toWriter.Reset();
            }
            break;
        case WriterEvent::Pos:
            engine_.SetProgressPos(event.number);
            break;
        case WriterEvent::Action:
            engine_.SetProgressAction(Utf8ToUtf16(event.text));
            break;
        case WriterEvent::Log:
            services.WriteLogLine(event.text);
            break;
        case WriterEvent::Box: {
            const int answer = services.presenter().ShowMessage(
                Utf8ToUtf16(event.text), Utf8ToUtf16(event.caption),
                static_cast<unsigned>(event.number), event.owned);
            session.Say("answer", {std::to_string(answer)});
            break;
        }
        case WriterEvent::Close:
            engine_.CloseProgress();
            break;
        case WriterEvent::Status:
            session.status = event.number;
            break;
        case WriterEvent::Refused:
            session.refused = event.text;
            break;
        case WriterEvent::Ended:
            session.told.kind = *OutcomeKindFromName(event.text);
            session.told.error = event.number;
            break;
    }
}

int StickWriterClient::Finish(Session& session) {
    AppServices& services = engine_.services();
    session.child.Reap();
    const int exitCode = session.child.ExitCode();
    services.WriteLog("RunStickWriter(): the stick writer ended with status %d", exitCode);

    // The outcome counts only when the exit status says the same.
    std::optional<int>& status = session.status;
    if (status && *status == SetupComplete && exitCode != 0) status.reset();
    if (status && *status != SetupComplete && exitCode != 1) status.reset();
    if (status && *status >= SetupError && *status <= SetupBlocked) {
        engine_.m_setupStatus = *status;
        session.told.status = *status;
        engine_.m_lastOutcome = session.told;
        return *status == SetupComplete ? 1 : 0;
    }
    if (engine_.StopRequested()) return 0;
    if (!session.refused.empty()) {
        services.DisplayMessage(
            Utf8ToUtf16("The stick writer refused to write the stick: " + session.refused));
    } else if (exitCode == 126 || exitCode == 127) {
        // pkexec: the operator dismissed or failed the authorisation.
        services.DisplayMessage(u"Writing the stick was not authorised. Nothing was written.");
    } else {
        const std::string why = session.strayOutput.empty()
                                    ? "exit status " + std::to_string(exitCode)
                                    : session.strayOutput;
        services.DisplayMessage(FormatW(kWriterGone, why));
    }
    engine_.CloseProgress();
    return 0;
}

}  // namespace flintmere
