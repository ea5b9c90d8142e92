// What surrounds a run as root, through the test writer on a loop device:
// the caller's environment never runs a command, a disk swapped under the
// chosen one's name is never written, a link out of the installation folder
// is not walked, and a window that stops reading does not keep the stick.
#include <fcntl.h>

#include "e2e/usb_rig.h"
#include "engine/stick_protocol.h"
#include "platform/child_process.h"
#include "platform/fd_io.h"
#include "support/recording_presenter.h"

namespace flintmere::testing {
namespace {

class usb_hostile_e2e : public usb_e2e {
  protected:
    // The writer started as a caller would start it, with `env` only; each
    // box is answered OK. `stalled`: nothing is read after the request.
    struct Direct {
        int exitStatus = -1;
        std::string out;
        std::chrono::steady_clock::duration took{};
    };
    Direct RunDirect(const std::vector<std::string>& env, bool stalled = false) {
        SelectStick();
        UniqueFd writerIn, toWriter, fromWriter, writerOut;
        Direct result;
        if (!MakePipe(writerIn, toWriter) || !MakePipe(fromWriter, writerOut)) return result;
        if (stalled) ::fcntl(fromWriter.Get(), F_SETPIPE_SZ, 4096);
        ChildProcess child;
        const auto start = std::chrono::steady_clock::now();
        if (child.Spawn({writer}, writerIn.Get(), writerOut.Get(), &env) != 0) return result;
        writerIn.Reset();
        writerOut.Reset();
        const std::string request = FormatStickRequest(app->stickWriter.MakeStickRequest());
        WriteAll(toWriter.Get(), request.data(), request.size());
        if (stalled) {
            while (!child.HasExited() &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        } else {
            LineReader reader;
            char buffer[4096];
            for (ssize_t n; (n = ::read(fromWriter.Get(), buffer, sizeof buffer)) > 0;) {
                reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
                while (std::optional<std::string> line = reader.Next()) {
                    result.out += *line + "\n";
                    if (line->rfind("box ", 0) == 0) {
                        const std::string answer = FormatLine("answer", {"1"});
                        WriteAll(toWriter.Get(), answer.data(), answer.size());
                    }
                }
            }
        }
        result.took = std::chrono::steady_clock::now() - start;
        child.Reap();
        result.exitStatus = child.ExitCode();
        return result;
    }
    // A second image the swaps put under the stick's name.
    std::string MakeOther() {
        const std::string other = dir / "other.img";
        WriteFileBytes(other, std::string(4u << 20, 'O'));
        fs::resize_file(other, kImageBytes);
        return other;
    }
    bool SwapStick(const std::string& image) {
        RunProgram({"losetup", "-d", stick->Device()});
        return RunProgram({"losetup", stick->Device(), image}).exitStatus == 0;
    }
};

TEST_F(usb_hostile_e2e, TheCallersEnvironmentNeverRunsACommandAsRoot) {
    const std::string mark = dir / "ran-as-root";
    const std::string userBin = dir / "userbin";
    const std::string userTmp = dir / "usertmp";
    fs::create_directories(userBin);
    fs::create_directories(userTmp);
    const std::string canary = "#!/bin/sh\necho \"$0\" >> " + mark + "\n";
    WriteFileBytes(dir / "canary.sh", canary);
    for (const char* tool : {"sh", "bash", "env", "sfdisk", "mcopy", "mattrib", "mkfs.fat",
                             "fsck.fat", "syslinux", "sync", "dd", "readlink", "basename"}) {
        WriteFileBytes(userBin + "/" + tool, canary);
        fs::permissions(userBin + "/" + tool, fs::perms::owner_all);
    }
    WriteFileBytes(userTmp + "/mtoolsrc", "drive z: file=\"/etc/shadow\"\n");
    const Direct run =
        RunDirect({"BASH_ENV=" + dir / "canary.sh", "ENV=" + dir / "canary.sh",
                   "PATH=" + userBin + ":/usr/sbin:/usr/bin:/sbin:/bin", "TMPDIR=" + userTmp,
                   "MTOOLSRC=" + userTmp + "/mtoolsrc", "HOME=" + userTmp,
                   "FLINTMERE_TEST_HOOKS=" + Hooks(), "FLINTMERE_TEST_ADMIT=" + stick->Name()});
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_NE(run.out.find("log SetupUSB():\\x20syslinux"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(mark)) << ReadFileBytes(mark);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(userTmp)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"mtoolsrc"}) << "root wrote into the caller's TMPDIR";
}

TEST_F(usb_hostile_e2e, AStalledReaderDoesNotKeepTheStick) {
    const Direct run = RunDirect({"FLINTMERE_TEST_ADMIT=" + stick->Name()}, true);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_LT(run.took, std::chrono::seconds(45));
}

TEST_F(usb_hostile_e2e, ALinkOutOfTheInstallationFolderIsNotWalked) {
    fs::create_directory_symlink("/etc", inst + "/kx/etc");
    struct Unlink {
        std::string path;
        ~Unlink() { fs::remove(path); }
    } unlink{inst + "/kx/etc"};
    EXPECT_EQ(Run(), 1) << Log();
    EXPECT_FALSE(Exists(stick->Partition(), "etc")) << "the system's /etc went onto the stick";
    EXPECT_NE(Log().find("skipped etc, it leads out of the installation folder"), std::string::npos)
        << Log();
}

TEST_F(usb_hostile_e2e, ADiskSwappedUnderTheChosenNameIsNeverWritten) {
    const std::string other = MakeOther();
    const std::string before = ReadHead(other, 8u << 20);
    struct Row {
        const char* name;
        const char* point;
        bool swaps;  // whether the swap can happen at all
        int result;
        const char* shown;
    };
    const Row rows[] = {
        {"after the identity was listed, before the hold", "listed", true, 0, "no longer the disk"},
        {"after the format, while held", "released-mounts", false, 1, nullptr},
    };
    for (const Row& row : rows) {
        app.presenter.Clear();
        bool swapped = false;
        {
            WriterStop stop(Hooks(), row.point, [&] { swapped = SwapStick(other); });
            EXPECT_EQ(Run(), row.result) << row.name << "\n" << Log();
            EXPECT_TRUE(stop.Reached()) << row.name;
        }
        EXPECT_EQ(swapped, row.swaps) << row.name;
        EXPECT_EQ(ReadHead(other, 8u << 20), before) << row.name << ": the other disk was written";
        const std::vector<ShownMessage> shown = app.presenter.Shown();
        if (row.shown) {
            ASSERT_EQ(shown.size(), 1u) << row.name;
            EXPECT_NE(ToPath(shown[0].text).find(row.shown), std::string::npos)
                << ToPath(shown[0].text);
        } else {
            EXPECT_TRUE(shown.empty()) << row.name;
        }
        // The next row starts from the rig's own stick again.
        RunProgram({"losetup", "-d", stick->Device()});
        stick.reset();
        stick = std::make_unique<LoopStick>(dir / "stick.img");
        ASSERT_FALSE(stick->Device().empty());
        AdmitStick();
        app->engine.SetDiskService(service.get());
    }
}

}  // namespace
}  // namespace flintmere::testing

namespace flintmere::testing {
namespace {

TEST_F(usb_e2e, ADiskOfAnotherSizeThanListedIsNeverWritten) {
    const std::string before = ReadHead(dir / "stick.img", 1u << 20);
    SelectStick();
    app->engine.m_driveSize[static_cast<std::size_t>(app->engine.m_selectedDrive)] +=
        16065ull * 512;
    EXPECT_EQ(app->stickWriter.RunStickSetup(), 0);
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u) << Log();
    EXPECT_NE(ToPath(shown[0].text).find("is not the size the window listed"), std::string::npos)
        << ToPath(shown[0].text);
    EXPECT_EQ(ReadHead(dir / "stick.img", 1u << 20), before);
}

}  // namespace
}  // namespace flintmere::testing
