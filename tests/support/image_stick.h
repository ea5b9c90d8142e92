// A stick over a FAT32 image file: listed by a fake disk service as "sdz",
// with an app wired to it, to an installation folder and to a progress
// recording, ready for SetupUSB.
#pragma once

#include <string>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/recording_progress.h"
#include "support/run_program.h"

namespace flintmere::testing {

// Formats a 128 MiB FAT32 "tvq" image at `image`, with the copy-only marker
// when asked. Exit status 127 means the tools are not installed.
ProgramResult MakeFatImage(const std::string& image, bool copyOnly);

// Lists the image as the only stick, selects it and wires `app` to it, with
// a generated node.cfg for "sbc1". The log goes to `tempDir`.
void WireImageStick(TestApp& app, FakeDisks& disks, RecordingProgress& progress,
                    const std::string& inst, const std::string& image, const std::string& tempDir);

}  // namespace flintmere::testing
