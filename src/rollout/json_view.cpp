// One JSON object per line and event, for programs that drive a rollout.
#include <algorithm>
#include <mutex>

#include "rollout/rollout_report.h"
#include "rollout/view_text.h"

namespace flintmere {

namespace {

using rollout_text::JsonString;

class JsonObject {
  public:
    JsonObject() = default;
    explicit JsonObject(std::string_view event) { Add("event", event); }
    JsonObject& Add(std::string_view key, std::string_view value) {
        return Raw(key, JsonString(value));
    }
    JsonObject& Add(std::string_view key, long long value) {
        return Raw(key, std::to_string(value));
    }
    JsonObject& Raw(std::string_view key, const std::string& json) {
        text_ += text_.empty() ? "{" : ",";
        text_ += JsonString(key) + ":" + json;
        return *this;
    }
    std::string Text() const { return (text_.empty() ? "{" : text_) + "}"; }
    std::string Line() const { return Text() + "\n"; }

  private:
    std::string text_;
};

class JsonView final : public RolloutView {
  public:
    explicit JsonView(std::FILE* out) : out_(out) {}

    void Begin(const std::vector<UnitOutcome>& units) override {
        std::lock_guard lock(mutex_);
        units_ = units;
        ended_.assign(units.size(), false);
        shown_.assign(units.size(), false);
        steps_.assign(units.size(), "");
        percents_.assign(units.size(), 0);
        std::string lines;
        for (std::size_t i = 0; i < units.size(); ++i) {
            lines += UnitObject("begin", i).Add("status", StatusName(units[i].status)).Line();
        }
        rollout_text::WriteAll(out_, lines);
    }

    void Progress(std::size_t index, const UnitProgress& progress) override {
        std::lock_guard lock(mutex_);
        // Nothing after a unit's end: a reader takes "finished" as its last word.
        if (index >= units_.size() || ended_[index]) return;
        // The engine reports a step by its text and its bar apart, often
        // the same again: one object for each step and percent.
        const int percent = std::clamp(progress.percent, 0, 100);
        if (shown_[index] && steps_[index] == progress.step && percents_[index] == percent) return;
        shown_[index] = true;
        steps_[index] = progress.step;
        percents_[index] = percent;
        JsonObject object = UnitObject("progress", index);
        object.Add("step", progress.step).Add("percent", percent);
        if (const std::string mbps = rollout_text::MbPerSecondText(progress.mbPerSecond);
            !mbps.empty()) {
            object.Raw("mbps", mbps);
        }
        rollout_text::WriteAll(out_, object.Line());
    }

    void Finished(std::size_t index, const UnitOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        if (index >= units_.size() || ended_[index]) return;
        ended_[index] = true;
        if (!outcome.medium.empty()) units_[index].medium = outcome.medium;
        JsonObject object = UnitObject("finished", index);
        object.Add("status", StatusName(outcome.status)).Add("reason", outcome.reason);
        if (!outcome.sha256.empty()) object.Add("sha256", outcome.sha256);
        rollout_text::WriteAll(out_, object.Line());
    }

    void Note(const std::string& text) override {
        std::lock_guard lock(mutex_);
        rollout_text::WriteAll(out_, JsonObject("note").Add("text", text).Line());
    }

    void End() override {
        std::lock_guard lock(mutex_);
        rollout_text::WriteAll(out_, JsonObject("end").Line());
    }

  private:
    JsonObject UnitObject(std::string_view event, std::size_t index) const {
        JsonObject object(event);
        object.Add("index", static_cast<long long>(index))
            .Add("unit", units_[index].unit)
            .Add("medium", units_[index].medium);
        return object;
    }

    std::FILE* out_;
    std::mutex mutex_;
    std::vector<UnitOutcome> units_;
    std::vector<bool> ended_;
    std::vector<bool> shown_;
    std::vector<std::string> steps_;
    std::vector<int> percents_;
};

std::string AttemptObject(const UnitOutcome& o) {
    JsonObject object;
    object.Add("unit", o.unit)
        .Add("kind", MediumKindName(o.kind))
        .Add("device", o.device)
        .Add("serial", o.serial)
        .Add("status", StatusName(o.status))
        .Add("reason", o.reason)
        .Add("time", o.time)
        .Add("sha256", o.sha256);
    return object.Text();
}

}  // namespace

std::string JsonRefusalLine(std::size_t row, const std::string& column, const std::string& reason) {
    return JsonObject("refused")
        .Add("row", static_cast<long long>(row))
        .Add("column", column)
        .Add("reason", reason)
        .Line();
}

std::string JsonMessageLine(std::string_view event, const std::string& text) {
    return JsonObject(event).Add("text", text).Line();
}

std::string JsonSummaryLine(const RolloutEnd& end) {
    std::string units = "[";
    for (const UnitOutcome& o : end.outcomes) {
        units += (units.size() > 1 ? "," : "") + AttemptObject(o);
    }
    units += "]";
    JsonObject object("summary");
    object.Add("exit_status", static_cast<long long>(end.exitStatus)).Raw("units", units);
    for (const UnitStatus status :
         {UnitStatus::Done, UnitStatus::Failed, UnitStatus::Canceled, UnitStatus::Waiting}) {
        const auto count = std::count_if(end.outcomes.begin(), end.outcomes.end(),
                                         [&](const UnitOutcome& o) { return o.status == status; });
        object.Add(StatusName(status), static_cast<long long>(count));
    }
    object.Add("result_file", end.resultFile);
    object.Raw("result_written", end.resultWritten ? "true" : "false");
    return object.Line();
}

std::unique_ptr<RolloutView> MakeJsonView(std::FILE* out) {
    return std::make_unique<JsonView>(out);
}

}  // namespace flintmere
