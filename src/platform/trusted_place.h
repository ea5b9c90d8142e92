// Whether only root can change a file: the stick writer runs as root, so it
// may run only files, tools and libraries that nobody else could have put or
// changed there.
#pragma once

#include <string>

namespace flintmere {

// Where an installed stick writer lives (sudo ./install-stick-writer).
inline constexpr const char* kInstalledStickWriter =
    "/usr/local/libexec/flintmere/flintmere-stick-writer";

// The search path the stick writer gives its tools: root's folders only.
inline constexpr const char* kRootToolPath = "/usr/sbin:/usr/bin:/sbin:/bin";

// Why someone other than root could change `path` (absolute): it, or a
// folder on the way to it (before and after links), is not root's or can be
// written by its group or by others. Empty when only root can change it. A
// path that does not exist is judged by the nearest folder above it that does,
// since whoever can write there can put it there.
std::string UntrustedReason(const std::string& path);

// Why the stick writer at `writerFile` must not run as root: checks the file,
// the tools and boot installer it runs from its folder (tools/, syslinux/),
// the libraries beside it (lib/) and the folders of kRootToolPath. Empty when
// all of them are root's alone.
std::string WriterPlaceProblem(const std::string& writerFile);

// Why the running program must not go on as root: every library it loaded,
// and every folder the loader would search for more, must be root's alone.
std::string LoadedCodeProblem();

}  // namespace flintmere
