#include "platform/media_root.h"

namespace flintmere {

bool MediaRoot::Track(std::string_view relPath, bool written) {
    std::erase_if(failedFiles_, [&](const FailedFile& f) { return f.relPath == relPath; });
    if (!written) failedFiles_.push_back({std::string(relPath), LastError()});
    return written;
}

}  // namespace flintmere
