// The stick writer's side of the protocol: its progress dialog and its
// message boxes become lines on standard output; answers and cancel arrive
// on standard input, read by a thread of their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/progress_dialog.h"
#include "engine/stick_protocol.h"
#include "platform/presenter.h"

namespace flintmere {

// Writes whole lines to a descriptor, one writer at a time. The descriptor
// is made non-blocking: a reader that takes no line for kStallLimit counts as
// gone, so a stalled window cannot keep the writer (and the stick) waiting.
class LineWriter {
  public:
    static constexpr int kStallLimitMs = 10000;
    explicit LineWriter(int fd);
    // False once the reader has gone or stalled.
    bool Send(std::string_view verb, const std::vector<std::string>& fields = {});
    // Runs once, on the sending thread, when the reader stalls or goes.
    void OnStalled(std::function<void()> onStalled);

  private:
    std::mutex mutex_;
    int fd_;
    bool gone_ = false;
    std::function<void()> onStalled_;
};

class WriterProgress final : public ProgressDialog {
  public:
    explicit WriterProgress(LineWriter& out) : out_(out) {}
    bool IsReady() override { return true; }
    void SetPos(int position) override;
    int GetPos() override { return position_.load(); }
    void SetAction(const u16& text) override;
    void RequestClose() override;

  private:
    LineWriter& out_;
    std::atomic<int> position_{0};
};

// Reads the window's lines after the request: "answer N" and "cancel".
// End of input counts as cancel, so a window that dies stops the run.
class WindowInput {
  public:
    // `fd` is read until it ends; `onCancel` runs once, on the reading thread.
    WindowInput(int fd, LineReader pending, std::function<void()> onCancel);
    ~WindowInput();
    WindowInput(const WindowInput&) = delete;
    WindowInput& operator=(const WindowInput&) = delete;

    // The next answer, or empty once cancelled or the input ended.
    std::optional<int> WaitAnswer();
    bool Cancelled() const { return cancelled_.load(); }

  private:
    void Handle(const std::string& line);
    void Cancel();

    int fd_;
    LineReader reader_;
    std::function<void()> onCancel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> answers_;
    std::atomic<bool> cancelled_{false};
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

class WriterPresenter final : public Presenter {
  public:
    WriterPresenter(LineWriter& out) : out_(out) {}
    void SetInput(WindowInput* input) { input_ = input; }
    int ShowMessage(const u16& text, const u16& caption, unsigned style,
                    bool owned = false) override;

  private:
    LineWriter& out_;
    WindowInput* input_ = nullptr;
    std::mutex mutex_;
};

}  // namespace flintmere
