// A table written onto three slow faulty sticks at once, each through the
// stick writer: one stick stops taking writes half-way through the copy,
// and the other two still end complete and read back clean.
#include <algorithm>
#include <cstdio>

#include "rollout/rollout_report.h"
#include "rollout/rollout_run.h"
#include "usb_rig.h"

namespace flintmere::testing {
namespace {

constexpr std::size_t kLargeFile = 64u << 20;
constexpr char kSlow[] = "write_rate=20000000\nread_rate=30000000\n";

class rollout_sticks_e2e : public usb_e2e {
  protected:
    void SetUp() override {
        usb_e2e::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // Three sticks of their own; the rig's one is not used.
        std::string admitted;
        for (int i = 0; i < 3; ++i) {
            const std::string folder = dir / ("s" + std::to_string(i));
            fs::create_directories(folder);
            servers.push_back(std::make_unique<FaultyStickServer>(folder, kImageBytes));
            if (!servers.back()->Error().empty()) GTEST_SKIP() << servers.back()->Error();
            ASSERT_TRUE(servers.back()->Control(kSlow));
            loops.push_back(std::make_unique<LoopStick>(servers.back()->File()));
            if (loops.back()->Device().empty()) GTEST_SKIP() << loops.back()->Error();
            admitted += loops.back()->Name() + " ";
        }
        std::vector<std::string> names;
        for (const auto& loop : loops) names.push_back(loop->Name());
        sticks = std::make_unique<LinuxDiskService>(DiskRoots{}, names);
        ::setenv("FLINTMERE_TEST_ADMIT", admitted.c_str(), 1);
        TellTestWriter(writer);
        app->engine.SetDiskService(sticks.get());
        largePath = inst + "/kx/large.bin";
        WriteFileBytes(largePath, std::string(kLargeFile, 'L'));
        WriteFileBytes(
            dir / "units.csv",
            "kestrel_label,kestrel_lan,kestrel_wan,kestrel_gw,usb_stick_partitioned\r\n"
            "unit-a,192.0.2.11 255.255.255.0,198.51.100.11 255.255.255.0,192.0.2.1,1\r\n"
            "unit-b,192.0.2.12 255.255.255.0,198.51.100.12 255.255.255.0,192.0.2.1,1\r\n"
            "unit-c,192.0.2.13 255.255.255.0,198.51.100.13 255.255.255.0,192.0.2.1,1\r\n");
    }
    void TearDown() override {
        usb_e2e::TearDown();
        loops.clear();
        servers.clear();
        std::error_code ec;
        fs::remove(largePath, ec);
    }

    std::vector<std::unique_ptr<FaultyStickServer>> servers;  // outlive the loops over them
    std::vector<std::unique_ptr<LoopStick>> loops;
    std::unique_ptr<LinuxDiskService> sticks;
    std::string largePath;
};

TEST_F(rollout_sticks_e2e, AFailingStickEndsOnlyItsUnit) {
    // Past the partition table, the file system and the boot loader, inside large.bin.
    ASSERT_TRUE(servers[1]->Control("write_fail_after=" + std::to_string(48u << 20) + "\n"));
    std::vector<std::string> args = {dir / "units.csv"};
    for (const auto& loop : loops) {
        args.push_back("--stick");
        args.push_back(loop->Device());
    }
    args.push_back("--yes");
    args.push_back("--json");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = RunRollout(*app, args, {out, err, stdin, 0});
    auto text = [](std::FILE* f) {
        std::rewind(f);
        std::string s;
        for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
        std::fclose(f);
        return s;
    };
    const std::string json = text(out);
    const std::string shown = json + text(err);

    EXPECT_EQ(status, 1) << shown;
    // Standard output is JSON lines only, and ends with the summary.
    WriteFileBytes(dir / "out.jsonl", json);
    const ProgramResult parsed =
        RunProgram({"python3", "-c",
                    "import json, sys\n"
                    "o = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8')]\n"
                    "assert o[-1]['event'] == 'summary' and o[-1]['exit_status'] == 1, o[-1]\n"
                    "assert [x['status'] for x in o[-1]['units']] == ['done', 'failed', 'done']\n",
                    dir / "out.jsonl"});
    EXPECT_EQ(parsed.exitStatus, 0) << parsed.err << json;
    const std::string result = ReadFileBytes(dir / "units.csv.result.csv");
    EXPECT_NE(result.find("unit-a,"), std::string::npos) << result;
    EXPECT_NE(result.find(",done,"), std::string::npos) << result;
    const std::size_t failed = result.find("unit-b,");
    ASSERT_NE(failed, std::string::npos) << result;
    EXPECT_NE(result.find(",failed,", failed), std::string::npos) << result;
    EXPECT_NE(result.find("Input/output error", failed), std::string::npos) << result;
    for (int i : {0, 2}) {
        const std::string volume = loops[i]->Partition();
        ProgramResult fsck = RunProgram({"fsck.fat", "-n", volume});
        EXPECT_EQ(fsck.exitStatus, 0) << fsck.out << fsck.err;
        const std::string nodeCfg = Mtype(volume, "node.cfg");
        EXPECT_NE(nodeCfg.find(i == 0 ? "kestrel_label: unit-a" : "kestrel_label: unit-c"),
                  std::string::npos)
            << nodeCfg;
        EXPECT_TRUE(Mtype(volume, "large.bin") == std::string(kLargeFile, 'L'));
    }
    EXPECT_EQ(ChildProcesses(), std::vector<std::string>{}) << "no writer is left running";

    // An image run through the program leaves the sticks' rows as they are.
    const ProgramResult images = RunProgram(
        {inst + "/flintmere", dir / "units.csv", "--iso", dir / "images"}, {}, dir.Path());
    EXPECT_EQ(images.exitStatus, 0) << images.out << images.err;
    const std::string afterImages = ReadFileBytes(dir / "units.csv.result.csv");
    EXPECT_TRUE(afterImages.starts_with(result)) << afterImages;
    EXPECT_NE(afterImages.find("unit-b,image,", result.size()), std::string::npos) << afterImages;

    // The next run takes only what has no done stick: unit-b, onto one stick.
    ASSERT_TRUE(servers[1]->Control("clear=1\n"));
    ASSERT_TRUE(servers[1]->Control(kSlow));
    std::FILE* out2 = std::tmpfile();
    std::FILE* err2 = std::tmpfile();
    const int again = RunRollout(*app, {dir / "units.csv", "--stick", loops[1]->Device(), "--yes"},
                                 {out2, err2, stdin, 0});
    const std::string shown2 = text(out2) + text(err2);
    EXPECT_EQ(again, 0) << shown2;
    EXPECT_NE(Mtype(loops[1]->Partition(), "node.cfg").find("kestrel_label: unit-b"),
              std::string::npos);
    const std::string last = ReadFileBytes(dir / "units.csv.result.csv");
    ASSERT_TRUE(last.starts_with(afterImages)) << last;
    const std::string added = last.substr(afterImages.size());
    EXPECT_TRUE(added.starts_with("unit-b,stick," + loops[1]->Device() + ",")) << added;
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
    EXPECT_NE(added.find(",done,"), std::string::npos) << added;

    // Every unit has its stick now: nothing more is written.
    std::FILE* out3 = std::tmpfile();
    std::FILE* err3 = std::tmpfile();
    EXPECT_EQ(RunRollout(*app, {dir / "units.csv", "--stick", loops[0]->Device(), "--yes"},
                         {out3, err3, stdin, 0}),
              0);
    text(out3);
    EXPECT_NE(text(err3).find("every unit of"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "units.csv.result.csv"), last);
}

}  // namespace
}  // namespace flintmere::testing
