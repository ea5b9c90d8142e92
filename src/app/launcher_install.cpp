#include "app/launcher_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/fd_io.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

const std::string kEntryPath = std::string("applications/") + kDesktopId + ".desktop";

std::string ErrorText(int error) {
    return std::strerror(error);
}

// One argument of an Exec line: quoted, with the characters a quoted
// argument must escape, '%' doubled, and then the backslashes of that doubled
// again, since the whole line is also a string value.
std::string ExecArgument(const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

std::string StringValue(const std::string& text) {
    std::string value;
    for (char c : text) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

bool ReadWhole(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + ErrorText(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

// Folders made for the data home are the user's alone, as the base
// directories ask.
bool MakeParents(const std::string& path, std::string& error) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot make " + folder + ": " + ErrorText(errno);
            return false;
        }
    }
    return true;
}

// Into a new file beside `path`, renamed over it when whole: a launcher is
// never left half written, and a link at that name is replaced, not followed.
bool WriteReplacing(const std::string& path, const std::string& bytes, std::string& error) {
    if (!MakeParents(path, error)) return false;
    std::string temp = path + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        error = "cannot write " + path + ": " + ErrorText(errno);
        return false;
    }
    const bool written =
        ::fchmod(fd.Get(), 0644) == 0 && WriteAll(fd.Get(), bytes.data(), bytes.size());
    const int writeError = errno;
    if (!fd.Close() || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + ErrorText(written ? errno : writeError);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "flintmere: %s\n", what.c_str());
    return 1;
}

int Install(const std::string& program, const std::string& data) {
    const std::string share = FolderOf(program) + "/share/";
    std::string error;
    std::string folderEntry;
    if (!ReadWhole(share + kEntryPath, folderEntry, error)) {
        return Fail(error + " (the installation folder lacks its desktop entry)");
    }
    struct stat st {};
    if (::stat(program.c_str(), &st) != 0) {
        return Fail("the program's own path " + program + " cannot be found: " + ErrorText(errno));
    }
    if (folderEntry.find("\nExec=") == std::string::npos) {
        return Fail("the folder's desktop entry " + share + kEntryPath + " has no Exec line");
    }
    const std::optional<std::string> entry = LauncherEntry(folderEntry, program);
    if (!entry) {
        return Fail("the folder's path " + program +
                    " holds a control character; move the folder to a plain path");
    }
    // Every icon first, so a folder that lacks one changes nothing.
    std::vector<std::string> icons;
    for (const std::string& icon : LauncherIcons()) {
        std::string bytes;
        if (!ReadWhole(share + icon, bytes, error)) return Fail(error);
        icons.push_back(std::move(bytes));
    }
    for (std::size_t i = 0; i < icons.size(); ++i) {
        if (!WriteReplacing(data + "/" + LauncherIcons()[i], icons[i], error)) return Fail(error);
    }
    if (!WriteReplacing(data + "/" + kEntryPath, *entry, error)) return Fail(error);
    std::printf("flintmere: the launcher %s/%s starts %s\n", data.c_str(), kEntryPath.c_str(),
                program.c_str());
    return 0;
}

int Remove(const std::string& data) {
    std::vector<std::string> files = LauncherIcons();
    files.insert(files.begin(), kEntryPath);
    int removed = 0;
    for (const std::string& file : files) {
        const std::string path = data + "/" + file;
        if (::unlink(path.c_str()) == 0) {
            ++removed;
        } else if (errno != ENOENT) {
            return Fail("cannot remove " + path + ": " + ErrorText(errno));
        }
    }
    if (removed == 0) {
        std::printf("flintmere: no launcher was installed in %s\n", data.c_str());
    } else {
        std::printf("flintmere: the launcher and its icons were removed from %s\n", data.c_str());
    }
    return 0;
}

}  // namespace

std::optional<std::string> LauncherEntry(const std::string& folderEntry,
                                         const std::string& program) {
    for (unsigned char c : program) {
        if (c < 0x20 || c == 0x7f) return std::nullopt;
    }
    std::istringstream in(folderEntry);
    std::string out;
    std::string line;
    bool mainGroup = false;
    bool tryExec = false;
    while (std::getline(in, line)) {
        if (line.starts_with("[")) mainGroup = line == "[Desktop Entry]";
        if (mainGroup && line.starts_with("TryExec=")) {
            line = "TryExec=" + StringValue(program);
            tryExec = true;
        } else if (mainGroup && line.starts_with("Exec=")) {
            line = "Exec=" + ExecArgument(program);
        }
        out += line + "\n";
    }
    if (!tryExec) {
        const std::size_t exec = out.find("\nExec=");
        if (exec == std::string::npos) return std::nullopt;
        out.insert(exec + 1, "TryExec=" + StringValue(program) + "\n");
    }
    return out;
}

std::string DataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // A relative value is to be ignored, as the base directories say.
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share";
    return {};
}

std::vector<std::string> LauncherIcons() {
    const std::string name = std::string("/apps/") + kDesktopId;
    return {
        "icons/hicolor/scalable" + name + ".svg", "icons/hicolor/48x48" + name + ".png",
        "icons/hicolor/64x64" + name + ".png",    "icons/hicolor/128x128" + name + ".png",
        "icons/hicolor/256x256" + name + ".png",
    };
}

int RunLauncherCommand(bool install, const std::string& program) {
    const std::string data = DataHome();
    if (data.empty()) return Fail("neither XDG_DATA_HOME nor HOME names a folder");
    return install ? Install(program, data) : Remove(data);
}

}  // namespace flintmere
