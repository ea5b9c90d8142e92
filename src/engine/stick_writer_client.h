// The window's side of the stick writer: finding a writer only root can
// change, starting it, relaying its lines into the engine's progress, log
// and boxes, and what one line of its output means.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/media_engine.h"
#include "engine/stick_protocol.h"
#include "engine/stick_request.h"

namespace flintmere {

struct WriterEvent {
    enum Kind { Hello, Pos, Action, Log, Box, Close, Status, Refused, Ended };
    Kind kind = Hello;
    int number = 0;       // version, position, status, box style, or errno
    bool owned = false;   // box
    std::string caption;  // box, UTF-8
    std::string text;     // action, box (UTF-8), log (Windows-1252), refused, kind
};

// Empty for a line that is not one of the writer's.
std::optional<WriterEvent> ParseWriterEvent(const ProtocolLine& line);

class StickWriterClient {
  public:
    // The run's progress, stop, log, boxes and status are `engine`'s.
    explicit StickWriterClient(MediaEngine& engine) : engine_(engine) {}
    StickWriterClient(const StickWriterClient&) = delete;
    StickWriterClient& operator=(const StickWriterClient&) = delete;

    // Where the operator's logo was read; the writer reads it again with the
    // operator's rights.
    u16 m_logoSourcePath;
    // Set by tests over fake disks: the stick run stays in this process.
    std::function<int()> m_stickRunInProcess;
    // Where the window looks for the writer, in order; the first that only
    // root can change is started. Empty: kInstalledStickWriter, then the one
    // in the installation folder.
    std::vector<std::string> m_stickWriterPlaces;
    // How long a cancelled writer may take before its input is closed.
    std::chrono::milliseconds m_writerCancelGrace{30000};

    // The worker routine of a stick run from the window.
    int RunStickSetup();
    // The engine's request, for the drive the window selected.
    StickRequest MakeStickRequest() const;
    // The writer to start, or "" with `why` (no place only root can change).
    std::string FindStickWriter(std::string& why) const;
    // Why no stick writer can be started here (none root alone can change, or
    // no pkexec for a caller who is not root); empty when one can.
    std::string StickWriterProblem() const;
    // False, after a box that says why and how to install it, when there is
    // no writer (or no pkexec) that only root can change. The window asks
    // before its erase question.
    bool CheckStickWriter();
    // Starts the writer (through pkexec unless this process is root), hands
    // it `request`, and relays its progress, boxes and log lines; Cancel
    // reaches it as a line on its input. Returns 1 after a complete run.
    int RunStickWriter(const StickRequest& request);

  private:
    struct Session;
    // Relays the writer's lines until it ends, is cancelled past its grace
    // or says too much; false when it was given up after a cancel.
    bool Relay(Session& session);
    void Handle(Session& session, const WriterEvent& event);
    // The outcome once the writer has ended.
    int Finish(Session& session);

    MediaEngine& engine_;
};

}  // namespace flintmere
