#include "helper/writer_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "platform/fd_io.h"

namespace flintmere {

LineWriter::LineWriter(int fd) : fd_(fd) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

void LineWriter::OnStalled(std::function<void()> onStalled) {
    std::lock_guard lock(mutex_);
    onStalled_ = std::move(onStalled);
}

bool LineWriter::Send(std::string_view verb, const std::vector<std::string>& fields) {
    const std::string line = FormatLine(verb, fields);
    std::function<void()> stalled;
    bool sent = true;
    {
        std::lock_guard lock(mutex_);
        if (gone_) return false;
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            pollfd ready{fd_, POLLOUT, 0};
            if (n < 0 && errno == EAGAIN && ::poll(&ready, 1, kStallLimitMs) > 0 &&
                !(ready.revents & (POLLERR | POLLHUP))) {
                continue;
            }
            gone_ = true;
            sent = false;
            stalled = std::move(onStalled_);
            break;
        }
    }
    if (stalled) stalled();
    return sent;
}

void WriterProgress::SetPos(int position) {
    position_ = position;
    out_.Send("pos", {std::to_string(position)});
}

void WriterProgress::SetAction(const u16& text) {
    out_.Send("action", {Utf16ToUtf8(text)});
}

void WriterProgress::RequestClose() {
    out_.Send("close");
}

WindowInput::WindowInput(int fd, LineReader pending, std::function<void()> onCancel)
    : fd_(fd), reader_(std::move(pending)), onCancel_(std::move(onCancel)) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) == 0) {
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
    }
    thread_ = std::thread([this] {
        // Lines that came with the request's last read.
        while (std::optional<std::string> line = reader_.Next()) Handle(*line);
        char buffer[4096];
        while (!cancelled_) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, wakeRead_ >= 0 ? 2 : 1, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[1].revents) return;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            reader_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
            while (std::optional<std::string> line = reader_.Next()) Handle(*line);
            if (reader_.Overflowed()) break;
        }
        Cancel();
    });
}

WindowInput::~WindowInput() {
    if (wakeWrite_ >= 0) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void WindowInput::Handle(const std::string& line) {
    const std::optional<ProtocolLine> parsed = ParseLine(line);
    if (!parsed || parsed->verb == "cancel") {
        Cancel();
        return;
    }
    if (parsed->verb == "answer" && parsed->fields.size() == 1) {
        int answer = 0;
        const std::string& text = parsed->fields[0];
        auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), answer);
        if (ec != std::errc() || ptr != text.data() + text.size()) {
            Cancel();
            return;
        }
        std::lock_guard lock(mutex_);
        answers_.push_back(answer);
        changed_.notify_all();
        return;
    }
    Cancel();  // a window that says what we do not understand is not followed
}

void WindowInput::Cancel() {
    if (cancelled_.exchange(true)) return;
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    if (onCancel_) onCancel_();
}

std::optional<int> WindowInput::WaitAnswer() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !answers_.empty() || cancelled_.load(); });
    if (answers_.empty()) return std::nullopt;
    const int answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
}

int WriterPresenter::ShowMessage(const u16& text, const u16& caption, unsigned style, bool owned) {
    std::lock_guard lock(mutex_);
    const bool question = (style & 0xf) == kMbYesNo;
    out_.Send("box",
              {std::to_string(style), owned ? "1" : "0", Utf16ToUtf8(caption), Utf16ToUtf8(text)});
    const std::optional<int> answer = input_ ? input_->WaitAnswer() : std::nullopt;
    // Without an answer nothing is confirmed.
    if (!answer) return question ? kIdNo : kIdOk;
    return *answer;
}

}  // namespace flintmere
