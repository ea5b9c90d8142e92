#include "support/fakes.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace flintmere::testing {

std::time_t FakeClock::Now() {
    std::lock_guard lock(mutex_);
    return now_ + elapsedMs_ / 1000;
}

bool FakeClock::Sleep(std::chrono::milliseconds duration, std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        pauses_.push_back(static_cast<int>(duration.count()));
        elapsedMs_ += duration.count();
    }
    if (onSleep) onSleep(static_cast<int>(duration.count()));
    if (realDelay_.count() > 0) {
        auto until = std::chrono::steady_clock::now() + realDelay_;
        while (std::chrono::steady_clock::now() < until && !stop.stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return !stop.stop_requested();
}

std::vector<int> FakeClock::Pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
}

void FakeClock::ClearPauses() {
    std::lock_guard lock(mutex_);
    pauses_.clear();
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "flintmere-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::TempDir(const std::string& base) {
    std::string pattern = base + "/flintmere-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed in " + base);
    ::chmod(pattern.c_str(), 0755);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TestApp::TestApp() {
    app = std::make_unique<CflintmereApp>(PlatformServices{
        clock, presenter, env, [this](std::string_view text) { stdoutText += text; }});
    // Fake disks live in this process; the end-to-end stick tests clear this
    // to run the stick writer itself.
    app->parts.stickWriter.m_stickRunInProcess = [this] { return app->parts.engine.SetupUSB(); };
}

// A read that fails part way (a /proc entry of a process that just ended
// gives ESRCH) ends the text there; a stream would throw instead.
std::string ReadFileBytes(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace flintmere::testing
