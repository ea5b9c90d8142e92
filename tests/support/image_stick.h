// A stick over a FAT32 image file: listed by a fake disk service as "sdz",
// with an app wired to it, to an installation folder and to a progress
// recording, ready for SetupUSB.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/install_folder.h"
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

// A test over an installation folder and a stick over a FAT image, wired
// and ready for SetupUSB. `Base` is the gtest fixture to build on.
template <typename Base = ::testing::Test>
class ImageStickTest : public Base {
  protected:
    // Call from SetUp; skips the test when the folder or the FAT tools are
    // missing.
    void SetUpStick(bool copyOnly) {
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, false);
        image = dir / "stick.img";
        ProgramResult fat = MakeFatImage(image, copyOnly);
        if (fat.exitStatus == 127) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
        ASSERT_EQ(fat.exitStatus, 0) << fat.err;
        WireImageStick(app, disks, progress, inst, image, dir.Path());
    }

    std::string Log() { return ReadFileBytes(app->services.m_logFile.Path()); }

    TempDir dir;
    TestApp app;
    FakeDisks disks;
    RecordingProgress progress;
    std::string inst, image;
};

}  // namespace flintmere::testing
