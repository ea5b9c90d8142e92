#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "engine/folder_listing.h"
#include "engine/media_engine.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

std::string JoinRel(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// Size of a file that can be opened for reading, -1 otherwise.
// O_NONBLOCK keeps a stray FIFO from hanging the sum.
long long ReadableFileSize(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return -1;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

// Puts a folder on the walk's path for as long as it is being walked.
class OnWalkPath {
  public:
    OnWalkPath(std::vector<FolderId>& path, const std::string& folder) : path_(path) {
        FolderId id;
        pushed_ = FolderIdOf(folder, id);
        if (pushed_) path_.push_back(id);
    }
    ~OnWalkPath() {
        if (pushed_) path_.pop_back();
    }
    OnWalkPath(const OnWalkPath&) = delete;
    OnWalkPath& operator=(const OnWalkPath&) = delete;

  private:
    std::vector<FolderId>& path_;
    bool pushed_ = false;
};

bool Holds(const std::vector<FolderId>& ids, const FolderId& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::string RealPathOf(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

}  // namespace

bool MediaEngine::LeadsOutOfInstallation(const std::string& path) const {
    if (m_installRealPath.empty()) return false;
    const std::string real = RealPathOf(path);
    return real.empty() || real.rfind(m_installRealPath + "/", 0) != 0;
}

const char* MediaEngine::WalkRefusal(const std::string& parent, const FolderEntry& entry) {
    const std::string folder = parent + entry.name;

    FolderId id;
    if (!FolderIdOf(folder, id)) return nullptr;
    // Entering a folder being walked again (through a link to it or to a
    // folder above it) would never end.
    if (Holds(m_copyFolders, id)) return "it leads back to a folder being copied";
    // A real folder is always copied where it is; a link to one that has
    // been walked already (through another link, or in place) is not.
    if (entry.link && Holds(m_walkedFolders, id)) return "it leads to a folder copied already";
    if (Holds(m_outsideFolders, id)) return "it leads out of the distribution folder";
    // A folder link out of the installation folder (kx/etc -> /etc) would put
    // a part of the system on the medium.
    if (entry.link && LeadsOutOfInstallation(folder)) {
        return "it leads out of the installation folder";
    }
    FolderId kx;
    if (entry.link && FolderIdOf(folder + "/kx/", kx)) {
        return "it leads to another installation folder";
    }
    m_walkedFolders.push_back(id);
    return nullptr;
}

bool MediaEngine::CopyFiles(MediaRoot& target, int endPosition) {
    services_.WriteLogW(u"CopyFiles(): destination is %s", target.DisplayPath(""));
    m_copyTotalKB = 0;
    const std::string distFolder = ToPath(request_.m_distFolder);
    m_installRealPath =
        request_.m_exeFolder.empty() ? std::string() : RealPathOf(ToPath(request_.m_exeFolder));
    m_outsideFolders = FolderAndAncestors(distFolder);
    // The distribution folder itself is walked, not outside.
    if (!m_outsideFolders.empty()) m_outsideFolders.erase(m_outsideFolders.begin());
    m_walkedFolders.clear();
    bool listed = GetFilesSize(distFolder);
    if (StopRequested()) {
        services_.WriteLog("CopyFiles(): canceled");
        return false;
    }
    if (!listed || m_copyTotalKB == 0) {
        services_.DisplayMessage(u"No distribution files found!");
        return false;
    }
    // Rounded down plus one: never 0, and the bar stays below the end.
    m_copyTotalKB = (m_copyTotalKB >> 10) + 1;
    m_copyDoneKB = 0;
    if (m_pProgressDlg) {
        int position = m_progressBase;
        GetProgressPos(position);
        m_progressBase = position;
    }
    m_progressEnd = endPosition;
    m_walkedFolders.clear();
    if (!CopyDirFiles(distFolder, target, "")) return false;
    services_.WriteLog("CopyFiles(): done");
    return true;
}

bool MediaEngine::GetFilesSize(const std::string& sourceFolder) {
    services_.WriteLogW(u"GetFilesSize(): source path is %s", sourceFolder);
    std::vector<FolderEntry> entries;
    int error = 0;
    if (!ListFolder(sourceFolder, entries, error)) {
        services_.DisplayErrorMessage(error);
        return false;
    }
    const OnWalkPath onPath(m_copyFolders, sourceFolder);
    for (const FolderEntry& entry : entries) {
        // The count is a walk of its own and can be as long as the copy.
        if (StopRequested()) return false;
        if (entry.kind == FolderEntry::Folder) {
            if (const char* why = WalkRefusal(sourceFolder, entry)) {
                services_.WriteLog("GetFilesSize(): skipped %s, %s", entry.name.c_str(), why);
            } else {
                // An unreadable sub-folder has been reported; the sum goes on without it.
                GetFilesSize(sourceFolder + entry.name + "/");
            }
        } else if (entry.kind == FolderEntry::File) {
            long long size = ReadableFileSize(sourceFolder + entry.name);
            if (size > 0) m_copyTotalKB += static_cast<std::uint64_t>(size);
        }
    }
    return true;
}

bool MediaEngine::CopyDirFiles(const std::string& sourceFolder, MediaRoot& target,
                               const std::string& targetFolder) {
    services_.WriteLogW(u"CopyDirFiles(): source is %s", sourceFolder);
    std::vector<FolderEntry> entries;
    int error = 0;
    if (!ListFolder(sourceFolder, entries, error)) {
        services_.DisplayErrorMessage(error);
        return false;
    }
    const OnWalkPath onPath(m_copyFolders, sourceFolder);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FolderEntry& entry = entries[i];
        if (StopRequested()) {
            services_.WriteLog("CopyDirFiles(): canceled");
            return false;
        }
        std::string relPath = JoinRel(targetFolder, entry.name);
        if (entry.kind == FolderEntry::Folder) {
            if (const char* why = WalkRefusal(sourceFolder, entry)) {
                services_.WriteLog("CopyDirFiles(): skipped %s, %s", entry.name.c_str(), why);
                continue;
            }
            // It may exist already; a real failure shows up with the first file.
            target.MakeFolder(relPath);
            if (!CopyDirFiles(sourceFolder + entry.name + "/", target, relPath)) return false;
            continue;
        }
        if (entry.kind != FolderEntry::File) {
            // Pipes, devices and dangling links have no contents to put on a medium.
            services_.WriteLogW(u"CopyDirFiles(): skipped %s", entry.name);
            continue;
        }
        services_.WriteLogW(u"CopyDirFiles(): file %s", entry.name);
        SetProgressAction(FormatW(u"Copying Files...\r\n%s", entry.name));

        std::string sourcePath = sourceFolder + entry.name;
        struct stat st {};
        std::uint64_t fileSize = 0;
        if (::stat(sourcePath.c_str(), &st) == 0) fileSize = static_cast<std::uint64_t>(st.st_size);
        // The first report comes before any data, so an empty file counts
        // as 0 KiB and not as the size of the file before it.
        bool copied = CopyProgressRoutine(fileSize, 0) &&
                      target.CopyFileIn(sourcePath, relPath, [this, fileSize](std::uint64_t done) {
                          return CopyProgressRoutine(fileSize, std::min(done, fileSize));
                      });
        if (!copied) {
            if (StopRequested()) {
                services_.WriteLog("CopyDirFiles(): canceled");
                return false;
            }
            // A source that cannot be read is named: the operator must find it.
            const UniqueFd source(::open(sourcePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            const int why = errno;
            if (!source.Valid()) {
                services_.DisplayMessage(FormatW(u"The file kx/%s cannot be copied: %s", relPath,
                                                 AppServices::SystemErrorText(why)));
            } else {
                ShowWriteFailure(target);
            }
            return false;
        }
        m_copyDoneKB += m_copyFileKB;
        if (i != 0 && !Pause(500)) {
            services_.WriteLog("CopyDirFiles(): canceled");
            return false;
        }
    }
    return true;
}

bool MediaEngine::CopyProgressRoutine(std::uint64_t fileSize, std::uint64_t bytesDone) {
    if (m_pProgressDlg) {
        std::uint64_t done = (bytesDone >> 10) + m_copyDoneKB;
        std::uint64_t percent = m_copyTotalKB ? done * 100 / m_copyTotalKB : 0;
        percent = std::min<std::uint64_t>(percent, 100);
        std::int64_t span = static_cast<std::int64_t>(m_progressEnd) - m_progressBase;
        std::int64_t position = m_progressBase + static_cast<std::int64_t>(percent) * span / 100;
        SetProgressPos(static_cast<int>(position));
    }
    m_copyFileKB = fileSize >> 10;
    return !StopRequested();
}

}  // namespace flintmere
