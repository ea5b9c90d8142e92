// One line per unit, redrawn in place: the cursor goes back up over the
// block and each line is erased and written again. Notes scroll above it.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "platform/text.h"
#include "rollout/rollout_report.h"
#include "rollout/view_text.h"

namespace flintmere {

namespace {

using rollout_text::Columns;
using rollout_text::FitToColumns;
using rollout_text::OneLine;

constexpr std::size_t kUnitWidth = 24;
constexpr std::size_t kMediumWidth = 32;
constexpr std::size_t kStepWidth = 28;
constexpr std::size_t kUnknownTerminalWidth = 80;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr double kPaceKnownAfter = 3.0;  // seconds of progress before a time left is shown

struct TerminalSize {
    std::size_t columns = kUnknownTerminalWidth;
    std::size_t rows = 0;  // 0: unknown
};

// Asked at every redraw: the window may have been resized since.
TerminalSize SizeOf(std::FILE* out) {
    winsize size{};
    const int fd = ::fileno(out);
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0) return {};
    TerminalSize terminal;
    if (size.ws_col > 0) terminal.columns = size.ws_col;
    terminal.rows = size.ws_row;
    return terminal;
}

class TerminalView final : public RolloutView {
  public:
    TerminalView(std::FILE* out, SteadyNow now) : out_(out), now_(std::move(now)) {}

    void Begin(const std::vector<UnitOutcome>& units) override {
        std::lock_guard lock(mutex_);
        units_.clear();
        unitWidth_ = mediumWidth_ = stepWidth_ = 0;
        for (const UnitOutcome& u : units) {
            Unit& unit = units_.emplace_back();
            unit.unit = OneLine(u.unit);
            unit.medium = OneLine(u.medium);
            unitWidth_ = std::max(unitWidth_, std::min(Columns(unit.unit), kUnitWidth));
            mediumWidth_ = std::max(mediumWidth_, std::min(Columns(unit.medium), kMediumWidth));
        }
        drawn_ = 0;
        active_ = true;
        begun_ = now_();
        Draw("");
    }

    void Progress(std::size_t index, const UnitProgress& progress) override {
        std::lock_guard lock(mutex_);
        if (!active_ || index >= units_.size() || units_[index].ended) return;
        Unit& unit = units_[index];
        std::string step = OneLine(progress.step);
        // A new step is worth showing at once; a step can sit long without
        // reports (the read-back), and the old one would stand for it.
        const bool newStep = !unit.started || step != unit.step;
        if (!unit.started) unit.startedAt = now_();
        unit.started = true;
        unit.step = std::move(step);
        unit.percent = std::clamp(progress.percent, 0, 100);
        unit.mbPerSecond = rollout_text::MbPerSecondText(progress.mbPerSecond);
        stepWidth_ = std::max(stepWidth_, std::min(Columns(unit.step), kStepWidth));
        if (newStep || now_() - lastDraw_ >= kRedrawInterval) Draw("");
    }

    void Finished(std::size_t index, const UnitOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        if (!active_ || index >= units_.size() || units_[index].ended) return;
        Unit& unit = units_[index];
        unit.ended = true;
        unit.status = outcome.status;
        unit.ending = OneLine(rollout_text::EndingText(outcome));
        if (!outcome.medium.empty()) unit.medium = OneLine(outcome.medium);
        Draw("");
    }

    void Note(const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (!active_) {
            rollout_text::WriteAll(out_, text + "\n");
            return;
        }
        Draw(text + "\n");
    }

    void End() override {
        std::lock_guard lock(mutex_);
        if (!active_) return;
        Draw("");  // the last reports, which the rate may have held back
        active_ = false;
        drawn_ = 0;
    }

  private:
    struct Unit {
        std::string unit, medium;
        bool started = false;
        std::chrono::steady_clock::time_point startedAt{};
        std::string step;
        int percent = 0;
        std::string mbPerSecond;
        bool ended = false;
        UnitStatus status = UnitStatus::Waiting;  // how it ended
        std::string ending;
    };

    // The time left at the pace so far, once there is a pace to go by.
    std::string TimeLeft(std::chrono::steady_clock::time_point since, double percent) const {
        const double elapsed = std::chrono::duration<double>(now_() - since).count();
        if (percent < 1 || percent >= 100 || elapsed < kPaceKnownAfter) return "";
        return rollout_text::DurationText(elapsed * (100 - percent) / percent) + " left";
    }

    std::string Line(const Unit& unit, std::size_t width) const {
        std::string line =
            FitToColumns(unit.unit, unitWidth_) + "  " +
            FitToColumns(rollout_text::ElideMiddle(unit.medium, mediumWidth_), mediumWidth_) + "  ";
        if (unit.ended) {
            line += unit.ending;
        } else if (!unit.started) {
            line += StatusName(UnitStatus::Waiting);
        } else {
            line += FitToColumns(unit.step, stepWidth_) + FormatA("  %3d%%", unit.percent);
            if (!unit.mbPerSecond.empty()) line += "  " + unit.mbPerSecond + " MB/s";
            if (const std::string left = TimeLeft(unit.startedAt, unit.percent); !left.empty()) {
                line += "  " + left;
            }
        }
        line.erase(line.find_last_not_of(' ') + 1);
        return rollout_text::CutToColumns(line, width);
    }

    // The block's lines. A block taller than the terminal could not be
    // redrawn (the cursor stops at the top), so then the running units come
    // first, then the waiting ones, and one line counts the rest.
    // "4 units: 1 done · 3:10 left": the table's pace, once it is known.
    std::string TableLine(std::size_t width) const {
        double percents = 0;
        std::vector<UnitOutcome> counted;
        for (const Unit& unit : units_) {
            percents += unit.ended ? 100 : unit.percent;
            UnitOutcome o;
            o.status = unit.ended     ? unit.status
                       : unit.started ? UnitStatus::Running
                                      : UnitStatus::Waiting;
            counted.push_back(std::move(o));
        }
        if (units_.empty()) return "";
        const std::string left = TimeLeft(begun_, percents / static_cast<double>(units_.size()));
        if (left.empty()) return "";
        return rollout_text::CutToColumns(rollout_text::CountsLine(counted) + "  " + left, width);
    }

    std::vector<std::string> BlockLines(const TerminalSize& terminal) const {
        std::vector<std::string> lines;
        const std::string table = TableLine(terminal.columns);
        if (terminal.rows == 0 || units_.size() + (table.empty() ? 0 : 1) < terminal.rows) {
            for (const Unit& unit : units_) lines.push_back(Line(unit, terminal.columns));
            if (!table.empty()) lines.push_back(table);
            return lines;
        }
        const std::size_t room = terminal.rows > 3 ? terminal.rows - 2 : 1;
        std::vector<bool> shown(units_.size(), false);
        std::size_t count = 0;
        for (const bool running : {true, false}) {
            for (std::size_t i = 0; i < units_.size() && count < room; ++i) {
                if (units_[i].ended || units_[i].started != running) continue;
                shown[i] = true;
                ++count;
            }
        }
        std::vector<UnitOutcome> hidden;
        for (std::size_t i = 0; i < units_.size(); ++i) {
            const Unit& unit = units_[i];
            if (shown[i]) {
                lines.push_back(Line(unit, terminal.columns));
                continue;
            }
            UnitOutcome outcome{unit.unit, unit.medium, unit.status, ""};
            if (!unit.ended)
                outcome.status = unit.started ? UnitStatus::Running : UnitStatus::Waiting;
            hidden.push_back(std::move(outcome));
        }
        const std::string rest = "and " + rollout_text::CountsLine(hidden);
        lines.push_back(rollout_text::CutToColumns(rest, terminal.columns));
        return lines;
    }

    // Back to the block's first line; a note goes there, and the block
    // follows.
    void Draw(const std::string& note) {
        const std::vector<std::string> lines = BlockLines(SizeOf(out_));
        std::string frame;
        if (drawn_ > 0) frame += "\x1b[" + std::to_string(drawn_) + "A";
        // A note may wrap over more than one old line, and a resized
        // terminal may leave fewer lines: erase everything below first.
        if (!note.empty() || lines.size() < drawn_) frame += "\r\x1b[J" + note;
        for (const std::string& line : lines) frame += "\r\x1b[2K" + line + "\n";
        drawn_ = lines.size();
        lastDraw_ = now_();
        rollout_text::WriteAll(out_, frame);
    }

    std::FILE* out_;
    SteadyNow now_;
    std::mutex mutex_;
    std::vector<Unit> units_;
    std::size_t unitWidth_ = 0, mediumWidth_ = 0, stepWidth_ = 0;
    std::size_t drawn_ = 0;  // lines of the block on the screen, above the cursor
    bool active_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point begun_{};
};

}  // namespace

std::unique_ptr<RolloutView> MakeTerminalView(std::FILE* out, SteadyNow now) {
    return std::make_unique<TerminalView>(out, std::move(now));
}

std::unique_ptr<RolloutView> MakeTerminalView(std::FILE* out) {
    return MakeTerminalView(out, [] { return std::chrono::steady_clock::now(); });
}

}  // namespace flintmere
