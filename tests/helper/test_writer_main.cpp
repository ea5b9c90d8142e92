// flintmere-stick-writer for the end-to-end tests: the shipped routine, with
// the loop devices the test names admitted as removable disks and the fixed
// pauses left out. Never installed.
//
// FLINTMERE_TEST_HOOKS names a folder through which a test watches and stops
// the run from its own process: each pause is added to "pauses" (its
// milliseconds, one a line), and at a stop point whose "<point>.wait" the
// test made, the writer makes "<point>.reached" and waits until the test
// removes "<point>.wait". Points: "released-mounts" (after the stick's mounts
// were released), "before-check" (after the flush, before the caches are
// dropped for the read-back), "pause-<ms>" (at a pause of that length) and
// "pause-<ms>-<n>" (at the n-th pause of that length, from 1).
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helper/stick_writer.h"
#include "no_pause_clock.h"
#include "platform/system_env.h"

namespace flintmere {
namespace {

class TestHooks {
  public:
    explicit TestHooks(const char* folder) : folder_(folder ? folder : "") {}

    void Pause(std::chrono::milliseconds duration) {
        if (folder_.empty()) return;
        std::ofstream(folder_ + "/pauses", std::ios::app) << duration.count() << "\n";
        const std::string point = "pause-" + std::to_string(duration.count());
        Stop(point);
        int n = 0;
        {
            std::lock_guard hold(lock_);
            n = ++pauses_[duration.count()];
        }
        Stop(point + "-" + std::to_string(n));
    }
    // Bounded, so that a test that went away never leaves the stick half written.
    void Stop(const std::string& point) {
        namespace fs = std::filesystem;
        const std::string wait = folder_ + "/" + point + ".wait";
        std::error_code ec;
        if (folder_.empty() || !fs::exists(wait, ec)) return;
        std::ofstream(folder_ + "/" + point + ".reached").flush();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (fs::exists(wait, ec) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

  private:
    std::string folder_;
    std::mutex lock_;
    std::map<long long, int> pauses_;  // pauses so far, by length
};

class HookedClock final : public Clock {
  public:
    explicit HookedClock(TestHooks& hooks) : hooks_(hooks) {}
    std::time_t Now() override { return inner_.Now(); }
    bool Sleep(std::chrono::milliseconds duration, std::stop_token stop) override {
        hooks_.Pause(duration);
        return inner_.Sleep(duration, stop);
    }

  private:
    TestHooks& hooks_;
    NoPauseClock inner_;
};

class HookedDisks final : public DiskService {
  public:
    HookedDisks(DiskService& inner, TestHooks& hooks) : inner_(inner), hooks_(hooks) {}
    std::vector<RemovableDisk> ListRemovableDisks() override { return inner_.ListRemovableDisks(); }
    bool ReadPartitionInfo(const RemovableDisk& d, PartitionEntry& e) override {
        return inner_.ReadPartitionInfo(d, e);
    }
    std::string VolumeDevice(const RemovableDisk& d) override { return inner_.VolumeDevice(d); }
    std::unique_ptr<DiskWriter> OpenForWriting(const RemovableDisk& d, int& error) override {
        return inner_.OpenForWriting(d, error);
    }
    bool FlushDisk(const RemovableDisk& d, int& error) override {
        return inner_.FlushDisk(d, error);
    }
    bool DropCachedPages(const RemovableDisk& d, const std::string& volume, int& error) override {
        hooks_.Stop("before-check");
        return inner_.DropCachedPages(d, volume, error);
    }
    bool ReleaseMounts(const RemovableDisk& d, int& error) override {
        const bool released = inner_.ReleaseMounts(d, error);
        hooks_.Stop("released-mounts");
        return released;
    }
    bool HoldsSystem(const RemovableDisk& d) override { return inner_.HoldsSystem(d); }
    int Probe(const RemovableDisk& d) override { return inner_.Probe(d); }

  private:
    DiskService& inner_;
    TestHooks& hooks_;
};

}  // namespace
}  // namespace flintmere

int main() {
    using namespace flintmere;
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> admitted;
    const char* names = std::getenv("FLINTMERE_TEST_ADMIT");
    std::istringstream list(names ? names : "");
    for (std::string name; list >> name;) admitted.push_back(name);
    LinuxSystemEnv env;
    const std::string self = ToPath(env.ExecutablePath());
    LinuxDiskService system(DiskRoots{}, admitted);
    TestHooks hooks(std::getenv("FLINTMERE_TEST_HOOKS"));
    HookedDisks disks(system, hooks);
    HookedClock clock(hooks);
    StickWriterPlatform platform{disks, clock, self.substr(0, self.rfind('/'))};
    return RunStickWriter(STDIN_FILENO, STDOUT_FILENO, platform);
}
