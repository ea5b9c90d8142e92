#include <chrono>
#include <thread>

#include "engine/media_engine.h"
#include "support/memory_operator.h"
#include "support/memory_surface.h"
#include "support/ui_operator.h"
#include "ui/branding_dlg.h"

namespace flintmere::testing {

namespace {

std::optional<u16> NextAnswer(std::vector<std::optional<u16>>& answers) {
    if (answers.empty()) return std::nullopt;
    std::optional<u16> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

// A script that keeps pressing OK on a dialog that refuses it would never end.
constexpr int kMaxBrandingRounds = 50;
// The worker runs on the fake clock; real time only passes while it copies.
constexpr auto kProgressTimeout = std::chrono::seconds(120);

}  // namespace

std::optional<u16> ScriptedDialogHost::OpenFile(const ui::FileDialogRequest& request) {
    openRequests.push_back(request);
    return NextAnswer(openAnswers);
}

std::optional<u16> ScriptedDialogHost::SaveFile(const ui::FileDialogRequest& request) {
    saveRequests.push_back(request);
    return NextAnswer(saveAnswers);
}

bool ScriptedDialogHost::RunBranding(ui::CBrandingDlg& dialog) {
    ++brandingRuns;
    ui::MemorySurface surface;
    ui::RegisterBrandingDialogControls(surface);
    dialog.OnInitDialog(surface);
    MemoryOperator op(surface, dialog);
    if (!brandingScript) return false;
    for (int round = 0; round < kMaxBrandingRounds; ++round) {
        brandingOperator = &op;
        const bool pressOk = brandingScript(dialog, surface, round);
        brandingOperator = nullptr;
        if (!pressOk) return false;
        if (dialog.OnOK()) return true;
    }
    return false;
}

ProgressDialog& ScriptedDialogHost::CreateProgressDialog() {
    // Not ready until RunProgress shows it, as a window that does not exist yet.
    progressDialogs.push_back(std::make_unique<RecordingProgress>(false));
    return *progressDialogs.back();
}

void ScriptedDialogHost::RunProgress(MediaEngine& engine) {
    ++progressRuns;
    RecordingProgress* progress = progressDialogs.empty() ? nullptr : progressDialogs.back().get();
    if (progress) progress->SetReady(true);
    if (progressScript) {
        progressScript(engine);
    } else if (progress) {
        const auto deadline = std::chrono::steady_clock::now() + kProgressTimeout;
        while (progress->CloseRequests() == 0 && engine.WorkerRunning()) {
            if (std::chrono::steady_clock::now() > deadline) {
                progressTimedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // A worker that never started or ended without asking to close leaves
        // only Cancel to the operator.
        if (progress->CloseRequests() == 0) engine.CancelSetup();
    }
    engine.WaitWorker();
}

void ScriptedDialogHost::EndMainDialog(int result) {
    ++mainDialogEnds;
    mainDialogResult = result;
}

}  // namespace flintmere::testing
