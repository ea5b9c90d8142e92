// Why a step on the stick failed, in words that name the real cause.
#include "engine/media_engine.h"

namespace flintmere {

namespace {
constexpr char16_t kStickGone[] = u"The USB stick was removed or stopped responding.";
}  // namespace

void MediaEngine::ShowStickFailure(const RemovableDisk& disk, const std::string& toolLine,
                                   int error) {
    // Every step fails once the stick is gone; their own texts would blame
    // the step ("Invalid argument", "Broken pipe").
    if (!diskService().Responds(disk)) {
        WriteLog("SetupUSB(): the stick was removed or does not respond");
        DisplayMessage(kStickGone);
    } else if (!toolLine.empty()) {
        DisplayMessage(Utf8ToUtf16(toolLine));
    } else {
        DisplayErrorMessage(error ? error : EIO);
    }
}

void MediaEngine::ShowWriteFailure(MediaRoot& target) {
    if (m_setupDisk) {
        ShowStickFailure(*m_setupDisk, {}, target.LastError());
    } else {
        DisplayErrorMessage(target.LastError());
    }
}

}  // namespace flintmere
