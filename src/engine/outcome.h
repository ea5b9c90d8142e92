// What a job (the ISO or the stick sequence) ended with: its status and, for
// a failure, what failed and why, so that each front end can say it its own
// way (a box, an exit status, a reason, a protocol line).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/progress_dialog.h"
#include "platform/text.h"

namespace flintmere {

enum class OutcomeKind {
    None,          // complete
    Canceled,      // the operator or the rollout stopped it
    ToolFailed,    // a tool ended with an error; its last line says why
    StickGone,     // the stick was pulled or stopped answering
    StickMissing,  // the stick's volume never showed
    WriteError,    // a file or the flush did not reach the medium
    Verification,  // what was read back differs, or could not be read
    Refused,       // nothing may be written (a mounted stick, a bad image name)
    Blocked,       // another program holds the stick
};

// Stable names for the log and the writer's protocol.
std::string_view OutcomeKindName(OutcomeKind kind);
std::optional<OutcomeKind> OutcomeKindFromName(std::string_view name);

struct Outcome {
    int status = SetupError;
    OutcomeKind kind = OutcomeKind::None;
    int error = 0;
    std::string toolLine;
    std::string path;
    // The box the operator is to see; empty when the step that failed has
    // already shown its own (the copy engine, the tool runner, the read-back).
    u16 message;
    // Set when `message` is the system's text for `error` (an "Error" box).
    bool systemText = false;

    bool Complete() const { return status == SetupComplete; }

    static Outcome Done() { return Of(SetupComplete, OutcomeKind::None, 0); }
    static Outcome Stopped() { return Of(SetupCanceled, OutcomeKind::Canceled, 0); }
    // A failure whose box is the system's text for `error`.
    static Outcome SystemError(OutcomeKind kind, int error, std::string path = {});
    // A failure whose box is `text`.
    static Outcome Said(OutcomeKind kind, u16 text, int error = 0);
    // A failure the step has already shown.
    static Outcome Shown(OutcomeKind kind, int error = 0);

  private:
    static Outcome Of(int status, OutcomeKind kind, int error) {
        Outcome outcome;
        outcome.status = status;
        outcome.kind = kind;
        outcome.error = error;
        return outcome;
    }
};

}  // namespace flintmere
