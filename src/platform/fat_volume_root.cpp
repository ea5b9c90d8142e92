#include "platform/fat_volume_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/child_process.h"
#include "platform/fat_mtools.h"
#include "platform/fd_io.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

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
    : volume_(std::move(volume)),
      tools_(std::move(programFolder)),
      watch_(volume_),
      readBack_(volume_, tools_, [this] { return watch_.ToolVolume(); }) {}

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
    int error = 0;
    const int code = tools_.Run(args, error, output, outputLimit, withWarnings);
    if (code < 0) Fail(error);
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
    if (int rc =
            child.Spawn({tools_.Path("mcopy"), "-o", "-i", ToolVolume(true), "-", Target(relPath)},
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
        if (const int error = watch_.SyncWhenDue(static_cast<std::uint64_t>(n))) {
            streamError = error;
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
    if (const int error = watch_.SyncWhenDue(0)) return Fail(error);
    streamed = done;
    return true;
}

bool FatVolumeRoot::LocateFiles(const std::vector<std::string>& relPaths,
                                std::map<std::string, StoredFile>& found) {
    return readBack_.LocateFiles(relPaths, found) || Fail(readBack_.LastError());
}

bool FatVolumeRoot::ReadFilesOut(const std::vector<const StoredFile*>& files,
                                 const FileChunkSink& sink, std::size_t& stoppedAt) {
    return readBack_.ReadFilesOut(files, sink, stoppedAt) || Fail(readBack_.LastError());
}

bool FatVolumeRoot::WatchWrites(bool on) {
    const int error = watch_.Restart(on);
    return error == 0 || Fail(error);
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
