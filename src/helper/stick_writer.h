// flintmere-stick-writer: writes one stick for the window, as root, and
// nothing else. It reads one request on `in`, reports on `out` in the stick
// protocol, and trusts nothing the request says: the disk must be one its
// own discovery lists, its tools come only from its own root-owned folder,
// and files are read with the rights of the user who asked.
#pragma once

#include <string>

#include "engine/stick_protocol.h"
#include "platform/clock.h"
#include "platform/disk_service.h"

namespace flintmere {

// Exit statuses.
enum StickWriterExit : int {
    WriterComplete = 0,        // the stick was written and read back
    WriterNotComplete = 1,     // the run ended otherwise; its status line says how
    WriterMalformed = 2,       // the request could not be read
    WriterRefused = 3,         // the request asked for what this program does not do
    WriterUntrustedPlace = 4,  // someone other than root could change what it would run
};

struct StickWriterPlatform {
    DiskService& disks;
    Clock& clock;
    // The folder of this program's file; tools and files come from there.
    std::string ownFolder;
};

int RunStickWriter(int in, int out, StickWriterPlatform& platform);

// main(): the clean start, the check of its own place, then the run over
// standard input and output.
int StickWriterMain(DiskService& disks, Clock& clock);

}  // namespace flintmere
