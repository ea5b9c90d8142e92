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
    std::string Line() const { return text_ + "}\n"; }

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
        JsonObject object = UnitObject("progress", index);
        object.Add("step", progress.step).Add("percent", std::clamp(progress.percent, 0, 100));
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
        rollout_text::WriteAll(out_, UnitObject("finished", index)
                                         .Add("status", StatusName(outcome.status))
                                         .Add("reason", outcome.reason)
                                         .Line());
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
};

}  // namespace

std::unique_ptr<RolloutView> MakeJsonView(std::FILE* out) {
    return std::make_unique<JsonView>(out);
}

}  // namespace flintmere
