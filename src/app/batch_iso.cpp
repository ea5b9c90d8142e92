#include <cstdio>

#include "app/flintmere_app.h"

namespace flintmere {

int CflintmereApp::RunBatchIso(const u16& commandLine) {
    WriteLogW(u"RunBatchIso(): %s", commandLine);
    std::fputs("flintmere: the batch ISO mode is not built yet\n", stderr);
    return 1;
}

}  // namespace flintmere
