// Either side of a stick run may die: the other ends cleanly.
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>
#include <thread>

#include "e2e/usb_rig.h"
#include "engine/stick_protocol.h"
#include "platform/child_process.h"
#include "platform/fd_io.h"
#include "support/recording_presenter.h"

namespace flintmere::testing {
namespace {

class usb_writer_e2e : public usb_e2e {
  protected:
    void SetUp() override {
        usb_e2e::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // Enough distribution that the copy is still running when a side dies.
        WriteFileBytes(inst + "/kx/bulk.bin", std::string(300u << 20, 'b'));
    }
    // The pid of this test's child whose command is the stick writer, or 0.
    static pid_t WriterPid() {
        for (const std::string& child : ChildProcesses()) {
            if (child.find("(flintmere-stick") != std::string::npos) return std::stoi(child);
        }
        return 0;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove(inst + "/kx/bulk.bin", ec);
        usb_e2e::TearDown();
    }
};

TEST_F(usb_writer_e2e, AWriterThatDiesEndsTheRunWithABox) {
    std::atomic<bool> killed{false};
    std::thread killer([this, &killed] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t pid = WriterPid();
            if (pid && Log().find("SetupUSB(): copying files") != std::string::npos) {
                killed = ::kill(pid, SIGKILL) == 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const int result = RunBounded(std::chrono::seconds(90));
    killer.join();
    ASSERT_TRUE(killed) << Log();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u) << Log();
    EXPECT_NE(ToPath(shown[0].text).find("The stick writer ended before the stick was done"),
              std::string::npos)
        << ToPath(shown[0].text);
    EXPECT_EQ(Log().find("SetupUSB(): done"), std::string::npos);
}

TEST_F(usb_writer_e2e, AWindowThatDiesStopsTheWriterAndItsTools) {
    // Tools the writer leaves behind would become this test's children.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    SelectStick();
    UniqueFd writerIn, toWriter, fromWriter, writerOut;
    ASSERT_TRUE(MakePipe(writerIn, toWriter) && MakePipe(fromWriter, writerOut));
    ChildProcess writer;
    ASSERT_EQ(writer.Spawn({usb_e2e::writer}, writerIn.Get(), writerOut.Get()), 0);
    writerIn.Reset();
    writerOut.Reset();
    const std::string request = FormatStickRequest(app->stickWriter.MakeStickRequest());
    ASSERT_TRUE(WriteAll(toWriter.Get(), request.data(), request.size()));

    // Read until the copy starts, then go away as a killed window does.
    LineReader reader;
    bool copying = false;
    char buffer[4096];
    for (ssize_t n; !copying && (n = ::read(fromWriter.Get(), buffer, sizeof buffer)) > 0;) {
        reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        while (std::optional<std::string> line = reader.Next()) {
            if (*line == FormatLine("log", {"SetupUSB(): copying files"}).substr(0, line->size())) {
                copying = true;
            }
        }
    }
    ASSERT_TRUE(copying);
    const auto gone = std::chrono::steady_clock::now();
    toWriter.Reset();
    fromWriter.Reset();
    while (!writer.HasExited() &&
           std::chrono::steady_clock::now() - gone < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(writer.HasExited()) << "the writer went on without its window";
    writer.Reap();
    EXPECT_EQ(writer.ExitCode(), 1);
    // Orphaned tools would now be ours; give the kernel a moment to reparent.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const std::string& child : ChildProcesses()) ADD_FAILURE() << "left running: " << child;
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

}  // namespace
}  // namespace flintmere::testing
