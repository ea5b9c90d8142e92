#include "platform/fat_volume_root.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/caller_rights.h"
#include "platform/child_process.h"
#include "platform/fd_io.h"
#include "platform/tool_path.h"
#include "platform/unique_fd.h"
#include "platform/whole_disk.h"

extern char** environ;

namespace flintmere {
namespace {

// One mtools process, killed and reaped on every path.
class MtoolsChild {
  public:
    MtoolsChild() = default;
    MtoolsChild(const MtoolsChild&) = delete;
    MtoolsChild& operator=(const MtoolsChild&) = delete;
    ~MtoolsChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    int Spawn(const std::vector<std::string>& argv, int stdinFd, int outputFd, int errorFd = -1) {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        int rc = ::posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
        if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
        if (rc == 0)
            rc = ::posix_spawn_file_actions_adddup2(&actions, errorFd < 0 ? outputFd : errorFd, 2);
        if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        posix_spawnattr_t attr;
        ::posix_spawnattr_init(&attr);
        sigset_t none, all;
        ::sigemptyset(&none);
        ::sigfillset(&all);
        // The copying thread blocks SIGPIPE; the tool gets a clean state.
        if (rc == 0)
            rc = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (rc == 0) rc = ::posix_spawnattr_setsigmask(&attr, &none);
        if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&attr, &all);

        // The volume is not named in any mtools configuration; the check
        // would refuse a FAT32 volume with an unusual geometry.
        std::vector<std::string> env;
        for (char** e = environ; e && *e; ++e) {
            if (std::strncmp(*e, "MTOOLS_SKIP_CHECK=", 18) != 0) env.emplace_back(*e);
        }
        env.emplace_back("MTOOLS_SKIP_CHECK=1");
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);

        pid_t pid = -1;
        if (rc == 0) rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
        ::posix_spawnattr_destroy(&attr);
        ::posix_spawn_file_actions_destroy(&actions);
        if (rc == 0) pid_ = pid;
        return rc;
    }

    // The exit code, or 128 + the signal that ended the tool.
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        pid_t rc;
        do {
            rc = ::waitpid(pid_, &status, 0);
        } while (rc < 0 && errno == EINTR);
        pid_ = -1;
        if (rc < 0) return -1;
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }

  private:
    pid_t pid_ = -1;
};

// Writing into the pipe of a tool that has ended must give EPIPE, not end
// the program: SIGPIPE is held back on this thread while a copy runs.
class SigpipeHold {
  public:
    SigpipeHold() {
        ::sigemptyset(&set_);
        ::sigaddset(&set_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~SigpipeHold() {
        sigset_t pending;
        ::sigpending(&pending);
        if (::sigismember(&pending, SIGPIPE) && !::sigismember(&old_, SIGPIPE)) {
            const timespec zero{};
            ::sigtimedwait(&set_, nullptr, &zero);
        }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeHold(const SigpipeHold&) = delete;
    SigpipeHold& operator=(const SigpipeHold&) = delete;

  private:
    sigset_t set_;
    sigset_t old_;
};

// Text output of the tool, kept out of any pipe so it can never stall it.
UniqueFd MakeOutputFile() {
    return UniqueFd(::memfd_create("mtools-output", MFD_CLOEXEC));
}

std::string ReadOutputFile(int fd, std::size_t limit = 65536) {
    std::string text;
    if (::lseek(fd, 0, SEEK_SET) != 0) return text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > limit) break;
    }
    return text;
}

// mtools reports in words only.
int ErrorFromOutput(const std::string& output) {
    if (output.find("Disk full") != std::string::npos ||
        output.find("No free") != std::string::npos ||
        output.find("No space left") != std::string::npos) {
        return ENOSPC;
    }
    // A stick pulled out: its node is gone, or the kernel no longer serves it.
    if (output.find("No such device") != std::string::npos) return ENXIO;
    if (output.find("not found") != std::string::npos ||
        output.find("No such file") != std::string::npos) {
        return ENOENT;
    }
    if (output.find("busy") != std::string::npos) return EBUSY;
    if (output.find("Permission denied") != std::string::npos) return EACCES;
    if (output.find("Read-only") != std::string::npos) return EROFS;
    return EIO;
}

// mtools expands wildcards in its names; such names are refused.
bool UsablePath(std::string_view relPath) {
    return relPath.find_first_of("*?[]") == std::string_view::npos &&
           relPath.find('\0') == std::string_view::npos;
}

std::string Target(std::string_view relPath) {
    return "::/" + std::string(relPath);
}

}  // namespace

FatVolumeRoot::FatVolumeRoot(std::string volume, std::string programFolder)
    : volume_(std::move(volume)), programFolder_(std::move(programFolder)) {}

FatVolumeRoot::~FatVolumeRoot() {
    WatchWrites(false);
}

bool FatVolumeRoot::Fail(int error) {
    lastError_ = error;
    errno = error;
    return false;
}

u16 FatVolumeRoot::DisplayPath(std::string_view relPath) const {
    return FromPath(volume_ + ":/" + std::string(relPath));
}

int FatVolumeRoot::Run(const std::vector<std::string>& args, std::string* output,
                       std::size_t outputLimit, bool withWarnings) {
    UniqueFd in(::open("/dev/null", O_RDWR | O_CLOEXEC));
    UniqueFd out = MakeOutputFile();
    if (!in.Valid() || !out.Valid()) {
        Fail(errno);
        return -1;
    }
    MtoolsChild child;
    std::vector<std::string> command = args;
    command[0] = ToolPath(programFolder_, command[0]);
    if (int rc = child.Spawn(command, in.Get(), out.Get(), withWarnings ? -1 : in.Get()); rc != 0) {
        Fail(rc);
        return -1;
    }
    int code = child.Wait();
    if (output) *output = ReadOutputFile(out.Get(), outputLimit);
    return code;
}

bool FatVolumeRoot::IsFolder(const std::string& target) {
    // Only a folder has a "." entry (the root always exists).
    if (target == "::/") return true;
    return Run({"mdir", "-a", "-i", ToolVolume(), target + "/."}) == 0;
}

bool FatVolumeRoot::MakeFolder(std::string_view relPath) {
    if (!UsablePath(relPath)) return Fail(EINVAL);
    const std::string target = Target(relPath);
    if (relPath.empty()) return true;
    std::string output;
    const int code = Run({"mmd", "-i", ToolVolume(true), target}, &output);
    if (code == 0) return true;
    if (code < 0) return false;
    if (IsFolder(target)) return true;
    return Fail(output.find("already exists") != std::string::npos ? EEXIST
                                                                   : ErrorFromOutput(output));
}

bool FatVolumeRoot::FileExists(std::string_view relPath) {
    if (!UsablePath(relPath) || relPath.empty()) return false;
    const std::string target = Target(relPath);
    if (Run({"mdir", "-a", "-b", "-i", ToolVolume(), target}) != 0) return false;
    return !IsFolder(target);
}

bool FatVolumeRoot::StreamIn(std::string_view relPath,
                             const std::function<long long(int pipeFd)>& next,
                             const ChunkProgress& progress, std::uint64_t& streamed) {
    streamed = 0;
    if (!UsablePath(relPath) || relPath.empty()) return Fail(EINVAL);
    UniqueFd readEnd, writeEnd;
    if (!MakePipe(readEnd, writeEnd)) return Fail(errno);
    ::fcntl(writeEnd.Get(), F_SETPIPE_SZ, static_cast<int>(kChunkSize));  // fewer wake-ups
    UniqueFd out = MakeOutputFile();
    if (!out.Valid()) return Fail(errno);

    SigpipeHold hold;
    MtoolsChild child;
    if (int rc = child.Spawn(
            {ToolPath(programFolder_, "mcopy"), "-o", "-i", ToolVolume(true), "-", Target(relPath)},
            readEnd.Get(), out.Get());
        rc != 0) {
        return Fail(rc);
    }
    readEnd.Reset();

    std::uint64_t done = 0;
    int streamError = 0;
    for (;;) {
        long long n = next(writeEnd.Get());
        if (n < 0) {
            streamError = errno;
            break;
        }
        if (n == 0) break;
        done += static_cast<std::uint64_t>(n);
        if (progress && !progress(done)) return Fail(ECANCELED);  // the child is killed
        if (!SyncWhenDue(static_cast<std::uint64_t>(n))) {
            streamError = errno;
            break;
        }
    }
    writeEnd.Reset();  // end of file for the tool
    const int code = child.Wait();
    const std::string output = ReadOutputFile(out.Get());
    if (code != 0) return Fail(ErrorFromOutput(output));
    // Reading from a pipe, mcopy ends with 0 even when the volume filled up
    // and the file was cut short; only its words tell.
    if (ErrorFromOutput(output) == ENOSPC) return Fail(ENOSPC);
    if (streamError != 0) return Fail(streamError);
    if (!SyncWhenDue(0)) return Fail(errno);
    streamed = done;
    return true;
}

bool FatVolumeRoot::WatchWrites(bool on) {
    if (flusher_.joinable()) {
        flusher_.request_stop();
        flusher_.join();
    }
    // An error the flusher met after the copy last asked would be lost
    // here: its flush took the error, and no later flush sees it again.
    const int pending = flushError_;
    const bool left = LeaveWholeDisk() && (pending == 0 || Fail(pending));
    // The kernel reads ahead around the tools' writes into the device's
    // cache: on a stick that doubled the bytes moved. Nothing is read there
    // that the copy needs, so read-ahead is off while it runs.
    if (watchFd_.Valid() && savedReadAhead_ >= 0) {
        ::ioctl(watchFd_.Get(), BLKRASET, static_cast<unsigned long>(savedReadAhead_));
    }
    savedReadAhead_ = -1;
    unsynced_ = 0;
    flushError_ = 0;
    if (on) {
        const RootFileAccess asRoot;  // the stick writer reads sources as its caller
        watchFd_ = UniqueFd(::open(volume_.c_str(), O_RDONLY | O_CLOEXEC));
    } else {
        watchFd_ = UniqueFd();
    }
    if (!watchFd_.Valid()) return left;
    long readAhead = 0;
    if (::ioctl(watchFd_.Get(), BLKRAGET, &readAhead) == 0 &&
        ::ioctl(watchFd_.Get(), BLKRASET, 0UL) == 0) {
        savedReadAhead_ = readAhead;
    }
    PlanWholeDisk();
    // Flushes beside the copy, so that the tools never wait for the stick
    // more than its own speed makes them.
    flusher_ = std::jthread([this](std::stop_token stop) {
        std::unique_lock lock(flushLock_);
        while (!stop.stop_requested()) {
            if (!due_.wait(lock, stop, [&] { return unsynced_ >= kSyncBytes; })) break;
            unsynced_ = 0;
            lock.unlock();
            int error = ::fsync(watchFd_.Get()) == 0 ? 0 : errno;
            if (error == 0 && diskFd_.Valid() && ::fsync(diskFd_.Get()) != 0) error = errno;
            lock.lock();
            if (error != 0 && flushError_ == 0) flushError_ = error;
        }
    });
    return left;
}

// The kernel writes a partition back in pieces of its block size, which is
// 512 bytes when the partition's length is an odd number of sectors (as a
// partition that starts one track in is): a request then carries 64 KiB,
// and a stick spends more time between requests than moving the bytes.
// The whole disk is written back in pages, so while the writes are watched
// the tools write through it at the partition's offset.
void FatVolumeRoot::PlanWholeDisk() {
    WholeDisk disk;
    if (!FindWholeDisk(volume_, disk)) return;
    UniqueFd fd;
    {
        const RootFileAccess asRoot;
        fd = UniqueFd(::open(disk.device.c_str(), O_RDONLY | O_CLOEXEC));
    }
    int diskBlock = 0, volumeBlock = 0;
    if (!fd.Valid() || ::ioctl(fd.Get(), BLKBSZGET, &diskBlock) != 0 ||
        ::ioctl(watchFd_.Get(), BLKBSZGET, &volumeBlock) != 0 || diskBlock <= volumeBlock) {
        return;
    }
    diskFd_ = std::move(fd);
    diskVolume_ = disk.device + "@@" + std::to_string(disk.start);
    diskPlanned_ = true;
}

const std::string& FatVolumeRoot::ToolVolume(bool writing) {
    if (diskPlanned_ && writing) {
        diskPlanned_ = false;
        // Each node has its own cache. What other tools wrote through the
        // partition goes to the device, and the disk's cache forgets what
        // it held of the volume, before the tools read through the disk.
        onDisk_ = ::fsync(watchFd_.Get()) == 0 && ::ioctl(diskFd_.Get(), BLKFLSBUF, 0) == 0;
        if (!onDisk_) diskFd_.Reset();
    }
    return onDisk_ ? diskVolume_ : volume_;
}

bool FatVolumeRoot::LeaveWholeDisk() {
    // The error of a failed write goes to the first flush after it: later
    // flushes through other descriptors would not see it.
    const bool flushed = !onDisk_ || ::fsync(diskFd_.Get()) == 0 || Fail(errno);
    // Whatever reads the partition next must not find its stale pages.
    if (onDisk_ && flushed && ::ioctl(watchFd_.Get(), BLKFLSBUF, 0) != 0) {
        ::posix_fadvise(watchFd_.Get(), 0, 0, POSIX_FADV_DONTNEED);
    }
    onDisk_ = diskPlanned_ = false;
    diskFd_.Reset();
    return flushed;
}

bool FatVolumeRoot::SyncWhenDue(std::uint64_t streamed) {
    if (!flusher_.joinable()) return true;
    std::lock_guard hold(flushLock_);
    unsynced_ += streamed;
    if (unsynced_ >= kSyncBytes) due_.notify_all();
    errno = flushError_;
    return flushError_ == 0;
}

bool FatVolumeRoot::RememberStored(const std::vector<std::string>& relPaths) {
    for (const std::string& relPath : relPaths) {
        if (!UsablePath(relPath) || relPath.empty()) return Fail(EINVAL);
        std::string bytes;
        constexpr std::size_t kLimit = 16u << 20;  // a boot loader's files are small
        // The file's bytes alone: a device warning on the error output would join them.
        const int code = Run({"mtype", "-i", ToolVolume(), Target(relPath)}, &bytes, kLimit, false);
        if (code < 0) return false;
        if (code != 0 || bytes.size() > kLimit) return Fail(EIO);
        Remember({relPath, {}, {bytes.begin(), bytes.end()}, bytes.size()});
    }
    return true;
}

// Also a file whose write failed: what it should hold is known, and the
// read-back then cannot take it for written.
void FatVolumeRoot::Remember(WrittenFile file) {
    if (!UsablePath(file.relPath) || file.relPath.empty()) return;
    std::erase_if(written_, [&](const WrittenFile& f) { return f.relPath == file.relPath; });
    written_.push_back(std::move(file));
}

bool FatVolumeRoot::WriteFile(std::string_view relPath, std::span<const std::uint8_t> data) {
    std::size_t offset = 0;
    auto next = [&](int pipeFd) -> long long {
        const std::size_t n = std::min(kChunkSize, data.size() - offset);
        if (n == 0) return 0;
        if (!WriteAll(pipeFd, data.data() + offset, n)) return -1;
        offset += n;
        return static_cast<long long>(n);
    };
    std::uint64_t streamed = 0;
    const bool written = StreamIn(relPath, next, {}, streamed);
    Remember({std::string(relPath), {}, {data.begin(), data.end()}, data.size()});
    return Track(relPath, written);
}

bool FatVolumeRoot::CopyFileIn(const std::string& sourcePath, std::string_view relPath,
                               const ChunkProgress& progress) {
    UniqueFd in(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in.Valid() || ::fstat(in.Get(), &st) != 0) {
        Fail(errno);
        Remember({std::string(relPath), sourcePath, {}, 0});
        return Track(relPath, false);
    }
    ::posix_fadvise(in.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    bool useSplice = true;
    std::vector<std::uint8_t> buffer;
    auto next = [&](int pipeFd) -> long long {
        std::size_t moved = 0;
        while (moved < kChunkSize) {
            ssize_t n;
            if (useSplice) {
                n = ::splice(in.Get(), nullptr, pipeFd, nullptr, kChunkSize - moved,
                             SPLICE_F_MOVE | SPLICE_F_MORE);
                if (n < 0 && errno == EINVAL && moved == 0) {
                    useSplice = false;  // a source that cannot splice
                    continue;
                }
            } else {
                if (buffer.empty()) buffer.resize(kChunkSize);
                n = ::read(in.Get(), buffer.data(), kChunkSize - moved);
                if (n > 0 && !WriteAll(pipeFd, buffer.data(), static_cast<std::size_t>(n))) {
                    return -1;
                }
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) break;
            moved += static_cast<std::size_t>(n);
        }
        return static_cast<long long>(moved);
    };
    std::uint64_t streamed = 0;
    const bool copied = StreamIn(relPath, next, progress, streamed);
    // The bytes the copy met, or the whole source when it stopped short.
    Remember({std::string(relPath),
              sourcePath,
              {},
              copied ? streamed : static_cast<std::uint64_t>(st.st_size)});
    return Track(relPath, copied);
}

}  // namespace flintmere
