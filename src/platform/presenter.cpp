#include "platform/presenter.h"

namespace flintmere {

int ConsolePresenter::ShowMessage(const u16& text, const u16& caption, unsigned style, bool) {
    std::fprintf(out_, "%s: %s\n", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str());
    std::fflush(out_);
    return (style & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

}  // namespace flintmere
