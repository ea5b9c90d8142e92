// A units table made into ISO images by the program itself, as an operator
// runs it: one image per unit holding that unit's node.cfg, the distribution
// staged once, and a table with faults refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

class RolloutIso : public ::testing::Test {
  protected:
    void SetUp() override {
        FLINTMERE_REQUIRE_TOOLS("genisoimage", "xorriso");
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
        fs::create_directories(dir / "tmp");
    }
    ProgramResult Run(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"timeout", "-s", "KILL", "300", inst + "/flintmere"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, {"TMPDIR=" + dir / "tmp/"}, dir.Path());
    }
    std::string Extract(const std::string& image, const std::string& path) {
        const std::string out = dir / "extracted";
        fs::remove(out);
        RunProgram({"xorriso", "-osirrox", "on", "-indev", image, "-extract", path, out});
        return ReadFileBytes(out);
    }
    std::string Logs() {
        std::string all;
        for (const auto& e : fs::directory_iterator(dir / "tmp")) {
            if (e.path().extension() == ".log") all += ReadFileBytes(e.path());
        }
        return all;
    }
    TempDir dir;
    std::string inst;
};

TEST_F(RolloutIso, EightUnitsEightImagesOneStaging) {
    std::string table =
        "kestrel_label,kestrel_lan,kestrel_wan,kestrel_gw,hw_platform,vm_platform\n";
    for (int i = 1; i <= 8; ++i) {
        table += "site-" + std::to_string(i) + ",10.1.0." + std::to_string(10 + i) +
                 " 255.255.255.0,10.2.0." + std::to_string(10 + i) +
                 " 255.255.255.0,10.1.0.1,advantech250,Vhw_Small\n";
    }
    WriteFileBytes(dir / "units.csv", table);
    const ProgramResult run = Run({"units.csv", "--iso", "images"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err << Logs();
    for (int i = 1; i <= 8; ++i) {
        const std::string image = dir / ("images/site-" + std::to_string(i) + ".iso");
        const std::string nodeCfg = Extract(image, "/node.cfg");
        EXPECT_NE(nodeCfg.find("kestrel_label: site-" + std::to_string(i) + "\n"),
                  std::string::npos)
            << image << ":\n"
            << nodeCfg;
        EXPECT_NE(nodeCfg.find("kestrel_lan: 10.1.0." + std::to_string(10 + i) + " "),
                  std::string::npos)
            << nodeCfg;
        EXPECT_EQ(Extract(image, "/vmlinuz"), ReadFileBytes(inst + "/kx/vmlinuz"));
        ProgramResult boot = RunProgram({"xorriso", "-indev", image, "-report_el_torito", "plain"});
        EXPECT_NE(boot.out.find("/isolinux.bin"), std::string::npos) << boot.out << boot.err;
    }
    const std::string log = Logs();
    std::size_t copies = 0;
    for (std::size_t at = log.find("CopyFiles(): done"); at != std::string::npos;
         at = log.find("CopyFiles(): done", at + 1)) {
        ++copies;
    }
    EXPECT_EQ(copies, 1u) << "the distribution is staged once";
    const std::string result = ReadFileBytes(dir / "units.csv.result.csv");
    EXPECT_NE(result.find("site-8,"), std::string::npos) << result;
    EXPECT_EQ(result.find("failed"), std::string::npos) << result;
    EXPECT_TRUE(fs::is_empty(dir / "tmp") || !fs::exists(dir / "tmp/flintmere_rollout"))
        << "no staged tree is left";
}

TEST_F(RolloutIso, AFaultyTableWritesNothing) {
    WriteFileBytes(dir / "units.csv",
                   "kestrel_label,kestrel_lan,kestrel_wan,kestrel_gw\n"
                   "site-1,10.1.0.11 255.255.255.0,10.2.0.11 255.255.255.0,10.1.0.1\n"
                   // the same LAN address
                   "site-2,10.1.0.11 255.255.255.0,10.2.0.12 255.255.255.0,10.1.0.1\n"
                   // a key injected through a line break
                   "\"site-3\nkestrel_gw: 6.6.6.6\",10.1.0.13 255.255.255.0,10.2.0.13 "
                   "255.255.255.0,10.1.0.1\n"
                   // no mask
                   "site-4,10.1.0.14 255.0.255.0,10.2.0.14 255.255.255.0,10.1.0.1\n");
    const ProgramResult run = Run({"units.csv", "--iso", "images"});
    EXPECT_EQ(run.exitStatus, 65) << run.out << run.err;
    EXPECT_NE(run.err.find("row 3, column kestrel_lan"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("row 4, column kestrel_label"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("row 5, column kestrel_lan"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "images")) << "nothing is written";
    EXPECT_FALSE(fs::exists(dir / "units.csv.result.csv"));
}

}  // namespace
}  // namespace flintmere::testing
