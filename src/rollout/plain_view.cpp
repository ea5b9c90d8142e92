// Lines for logs and pipes: a unit's step when it changes, every tenth of its
// progress, and how it ended.
#include <algorithm>
#include <mutex>

#include "rollout/rollout_report.h"
#include "rollout/view_text.h"

namespace flintmere {

namespace {

using rollout_text::OneLine;

class PlainView final : public RolloutView {
  public:
    explicit PlainView(std::FILE* out) : out_(out) {}

    void Begin(const std::vector<UnitOutcome>& units) override {
        std::lock_guard lock(mutex_);
        units_.clear();
        for (const UnitOutcome& u : units) {
            Unit& unit = units_.emplace_back();
            unit.unit = OneLine(u.unit);
            unit.medium = OneLine(u.medium);
        }
    }

    void Progress(std::size_t index, const UnitProgress& progress) override {
        std::lock_guard lock(mutex_);
        // A late report from a unit that has ended would say it runs again.
        if (index >= units_.size() || units_[index].ended) return;
        Unit& unit = units_[index];
        const int percent = std::clamp(progress.percent, 0, 100);
        const std::string step = OneLine(progress.step);
        std::string line;
        if (!unit.started || step != unit.step) {
            unit.started = true;
            unit.step = step;
            unit.tenth = percent / 10;
            line = Prefix(unit) + step;
        } else if (percent / 10 > unit.tenth) {
            unit.tenth = percent / 10;
            line = Prefix(unit) + step + " " + std::to_string(percent) + "%";
            if (const std::string mbps = rollout_text::MbPerSecondText(progress.mbPerSecond);
                !mbps.empty()) {
                line += " (" + mbps + " MB/s)";
            }
        } else {
            return;
        }
        rollout_text::WriteAll(out_, line + "\n");
    }

    void Finished(std::size_t index, const UnitOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        if (index >= units_.size() || units_[index].ended) return;
        Unit& unit = units_[index];
        unit.ended = true;
        if (!outcome.medium.empty()) unit.medium = OneLine(outcome.medium);
        rollout_text::WriteAll(out_,
                               Prefix(unit) + OneLine(rollout_text::EndingText(outcome)) + "\n");
    }

    void Note(const std::string& text) override {
        std::lock_guard lock(mutex_);
        rollout_text::WriteAll(out_, text + "\n");
    }

    void End() override {
        std::lock_guard lock(mutex_);
        rollout_text::WriteAll(out_, "");
    }

  private:
    struct Unit {
        std::string unit, medium;
        std::string step;
        int tenth = 0;
        bool started = false;
        bool ended = false;
    };

    static std::string Prefix(const Unit& unit) { return unit.unit + " " + unit.medium + ": "; }

    std::FILE* out_;
    std::mutex mutex_;
    std::vector<Unit> units_;
};

}  // namespace

std::unique_ptr<RolloutView> MakePlainView(std::FILE* out) {
    return std::make_unique<PlainView>(out);
}

}  // namespace flintmere
