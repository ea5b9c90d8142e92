#include "engine/outcome.h"

#include <array>
#include <utility>

namespace flintmere {

namespace {
constexpr std::array<std::pair<OutcomeKind, std::string_view>, 9> kNames = {{
    {OutcomeKind::None, "none"},
    {OutcomeKind::Canceled, "canceled"},
    {OutcomeKind::ToolFailed, "tool-failed"},
    {OutcomeKind::StickGone, "stick-gone"},
    {OutcomeKind::StickMissing, "stick-missing"},
    {OutcomeKind::WriteError, "write-error"},
    {OutcomeKind::Verification, "verification"},
    {OutcomeKind::Refused, "refused"},
    {OutcomeKind::Blocked, "blocked"},
}};
}  // namespace

std::string_view OutcomeKindName(OutcomeKind kind) {
    for (const auto& [k, name] : kNames) {
        if (k == kind) return name;
    }
    return "none";
}

std::optional<OutcomeKind> OutcomeKindFromName(std::string_view name) {
    for (const auto& [kind, n] : kNames) {
        if (n == name) return kind;
    }
    return std::nullopt;
}

namespace {
int FailureStatus(OutcomeKind kind) {
    return kind == OutcomeKind::Blocked ? SetupBlocked : SetupError;
}
}  // namespace

Outcome Outcome::SystemError(OutcomeKind kind, int error, std::string path) {
    Outcome outcome = Of(FailureStatus(kind), kind, error);
    outcome.path = std::move(path);
    outcome.systemText = true;
    return outcome;
}

Outcome Outcome::Said(OutcomeKind kind, u16 text, int error) {
    Outcome outcome = Of(FailureStatus(kind), kind, error);
    outcome.message = std::move(text);
    return outcome;
}

Outcome Outcome::Shown(OutcomeKind kind, int error) {
    return Of(FailureStatus(kind), kind, error);
}

}  // namespace flintmere
