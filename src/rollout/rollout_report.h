// What a rollout tells its operator while it runs and when it ends: one
// line per unit redrawn in place on a terminal, plain lines otherwise, or
// one JSON object per event; then the summary table, also written as
// "<table>.result.csv", and the exit status.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace flintmere {

enum class UnitStatus { Waiting, Running, Done, Failed, Canceled };

// One unit's progress. `mbPerSecond` < 0 when unknown.
struct UnitProgress {
    std::string step;  // "Copying files...", as the progress dialog would show it
    int percent = 0;
    double mbPerSecond = -1;
};

enum class MediumKind { Image, Stick };

// How a unit ended: one attempt, as the result file records it.
struct UnitOutcome {
    UnitOutcome() = default;
    UnitOutcome(std::string unit_, std::string medium_, UnitStatus status_, std::string reason_)
        : unit(std::move(unit_)),
          medium(std::move(medium_)),
          status(status_),
          reason(std::move(reason_)) {}

    std::string unit;    // the host name
    std::string medium;  // as shown: the image file, or the stick's device and serial
    UnitStatus status = UnitStatus::Waiting;
    std::string reason;  // why it failed or was cancelled; "" when done
    MediumKind kind = MediumKind::Image;
    std::string device;  // the image file, or the stick's device
    std::string serial;  // the stick's; "" for an image or a stick without one
    std::string time;    // when the attempt ended, ISO 8601 in UTC
    std::string sha256;  // a done image's, lower-case hex
};

// All calls may come from several threads at once.
class RolloutView {
  public:
    virtual ~RolloutView() = default;
    // Announces the units before any starts (index = position in `units`).
    virtual void Begin(const std::vector<UnitOutcome>& units) = 0;
    virtual void Progress(std::size_t index, const UnitProgress& progress) = 0;
    virtual void Finished(std::size_t index, const UnitOutcome& outcome) = 0;
    // A line about the rollout as a whole (not a unit's).
    virtual void Note(const std::string& text) = 0;
    // After every unit has finished; the summary follows.
    virtual void End() = 0;
};

// Redraws one line per unit in place (ANSI cursor movement), at most about
// ten times a second.
std::unique_ptr<RolloutView> MakeTerminalView(std::FILE* out);
// The same with the time the redraw rate is measured by: a steady clock to
// the millisecond, which Clock's whole seconds are not.
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
std::unique_ptr<RolloutView> MakeTerminalView(std::FILE* out, SteadyNow now);
// One line per change of step and per ending, for logs and pipes.
std::unique_ptr<RolloutView> MakePlainView(std::FILE* out);
// One JSON object per line and event.
std::unique_ptr<RolloutView> MakeJsonView(std::FILE* out);

// The JSON lines of a run besides the view's (see docs/rollout-json.md):
// a refusal of the table, a line for the operator ("note", "error"), and
// the summary every run with --json ends with.
struct RolloutEnd {
    int exitStatus = 0;
    std::vector<UnitOutcome> outcomes;  // this run's attempts
    std::string resultFile;             // "" when there is none (a database, a node.cfg)
    bool resultWritten = false;
};
std::string JsonRefusalLine(std::size_t row, const std::string& column, const std::string& reason);
std::string JsonMessageLine(std::string_view event, const std::string& text);
std::string JsonSummaryLine(const RolloutEnd& end);

// The summary table: unit, medium, status, reason; one line per unit and a
// last line with the counts.
std::string FormatSummary(const std::vector<UnitOutcome>& outcomes);
// The result file's text: a UTF-8 byte order mark, the header
// "unit,medium,device,serial,status,reason,time,sha256" and a row per
// attempt, CRLF, RFC 4180 quoting.
std::string FormatResultCsv(const std::vector<UnitOutcome>& outcomes);
const char* StatusName(UnitStatus status);    // "waiting", "running", "done", "failed", "canceled"
const char* MediumKindName(MediumKind kind);  // "image", "stick"

// Exit statuses of a rollout.
constexpr int kRolloutMaxFailedStatus = 63;  // 1..63: that many units failed (63: 63 or more)
constexpr int kRolloutUsage = 64;            // the command line is not a rollout's
constexpr int kRolloutRefused = 65;          // the table was refused: nothing written
constexpr int kRolloutNotStarted = 66;       // the media could not be prepared at all
constexpr int kRolloutResultLost = 67;       // the result file cannot be written
// 0 when every unit is done, else the number not done, capped.
int RolloutExitStatus(const std::vector<UnitOutcome>& outcomes);

}  // namespace flintmere
