// The sample installation folder that scripts/make-install-folder assembles.
#pragma once

#include <string>

namespace flintmere::testing {

struct InstallFolder {
    int status = -1;  // 0 made; 3 a system package is missing
    std::string error;
    bool MissingPackages() const { return status == 3; }
    bool Made() const { return status == 0; }
};

// Assembles the folder at `path`, with the program file when `withProgram`.
InstallFolder MakeInstallFolder(const std::string& path, bool withProgram = false);

}  // namespace flintmere::testing

// In SetUp or a test body: skip when the machine lacks a package, fail on any
// other problem.
#define FLINTMERE_REQUIRE_INSTALL_FOLDER(path, withProgram)                  \
    do {                                                                     \
        const ::flintmere::testing::InstallFolder made_ =                    \
            ::flintmere::testing::MakeInstallFolder((path), (withProgram));  \
        if (made_.MissingPackages()) GTEST_SKIP() << made_.error;            \
        ASSERT_TRUE(made_.Made()) << "make-install-folder: " << made_.error; \
    } while (0)
