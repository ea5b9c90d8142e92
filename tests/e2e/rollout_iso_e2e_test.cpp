// A units table made into ISO images by the program itself, as an operator
// runs it: one image per unit holding that unit's node.cfg, the distribution
// staged once, and a table with faults refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"
#include "support/small_tmpfs.h"

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
    // Every line of `out` is one JSON object, a step is told once, and the
    // last line is the summary with `status`.
    void ExpectJsonLines(const std::string& out, int status) {
        WriteFileBytes(dir / "out.jsonl", out);
        const ProgramResult check =
            RunProgram({"python3", "-c",
                        "import json, sys\n"
                        "text = open(sys.argv[1], encoding='utf-8').read()\n"
                        "assert text.endswith('\\n'), 'no line end'\n"
                        "objects = [json.loads(line) for line in text.splitlines()]\n"
                        "events = [o['event'] for o in objects]\n"
                        "assert events.count('summary') == 1 and events[-1] == 'summary', events\n"
                        "assert objects[-1]['exit_status'] == int(sys.argv[2]), objects[-1]\n"
                        "last = {}\n"
                        "for o in objects:\n"
                        "    if o['event'] == 'progress':\n"
                        "        step = (o['step'], o['percent'])\n"
                        "        assert last.get(o['index']) != step, o\n"
                        "        last[o['index']] = step\n"
                        "print(len(objects))\n",
                        dir / "out.jsonl", std::to_string(status)});
        EXPECT_EQ(check.exitStatus, 0) << check.out << check.err << out;
    }
    TempDir dir;
    std::string inst;
};

// What an earlier stick run left: site-1 on a stick, site-2's stick failed.
const std::string kStickRows =
    "site-1,stick,/dev/sdb,SN1,done,,2026-12-01T09:00:00Z,\r\n"
    "site-2,stick,/dev/sdc,SN2,failed,Input/output error,2026-12-01T09:00:01Z,\r\n";

TEST_F(RolloutIso, AnImageRunLeavesTheSticksRecordAndEveryOtherUnitFinishes) {
    FLINTMERE_REQUIRE_TOOLS("python3", "sha256sum");
    // A semicolon export in Windows-1252 with CRLF, named in capitals.
    WriteFileBytes(dir / "UNITS.CSV",
                   "kestrel_label;kestrel_lan;kestrel_wan;hw_platform;vm_platform;logicid;dns1\r\n"
                   "site-1;10.1.0.11 255.255.255.0;10.2.0.11 255.255.255.0;advantech250;"
                   "Vhw_Small;Z\xfcrich;10.0.0.53\r\n"
                   "site-2;10.1.0.12 255.255.255.0;10.2.0.12 255.255.255.0;advantech250;"
                   "Vhw_Small;;\r\n"
                   "site-3;10.1.0.13 255.255.255.0;10.2.0.13 255.255.255.0;advantech250;"
                   "Vhw_Small;;\r\n");
    const std::string ledger = dir / "UNITS.CSV.result.csv";
    const std::string header =
        "\xEF\xBB\xBFunit,medium,device,serial,status,reason,time,sha256\r\n";
    WriteFileBytes(ledger, header + kStickRows);
    // site-3's image cannot take its name: that unit fails, the others finish.
    fs::create_directories(dir / "images/site-3.iso");
    const ProgramResult run = Run({"UNITS.CSV", "--iso", "images", "--json"});
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err << Logs();
    ExpectJsonLines(run.out, 1);
    EXPECT_NE(run.err.find("read as Windows-1252"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("not written: logicid, dns1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("3 units: 2 done, 1 failed"), std::string::npos) << run.err;

    const std::string result = ReadFileBytes(ledger);
    ASSERT_TRUE(result.starts_with(header + kStickRows)) << result;
    for (const char* unit : {"site-1", "site-2"}) {
        const std::string image = dir / ("images/" + std::string(unit) + ".iso");
        const std::string sum = RunProgram({"sha256sum", image}).out.substr(0, 64);
        EXPECT_NE(result.find(std::string(unit) + ",image," + image + ",,done,,"),
                  std::string::npos)
            << result;
        EXPECT_NE(result.find("Z," + sum + "\r\n"), std::string::npos) << sum << "\n" << result;
    }
    EXPECT_NE(result.find("site-3,image," + dir / "images/site-3.iso" + ",,failed,"),
              std::string::npos)
        << result;

    // The next image run makes only site-3; the sticks' rows stay as they were.
    fs::remove(dir / "images/site-3.iso");
    const ProgramResult again = Run({"UNITS.CSV", "--iso", "images"});
    EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
    EXPECT_NE(again.err.find("2 units have a done image"), std::string::npos) << again.err;
    EXPECT_NE(again.out.find("1 unit: 1 done"), std::string::npos) << again.out;
    const std::string next = ReadFileBytes(ledger);
    EXPECT_TRUE(next.starts_with(result)) << "earlier runs' rows are kept\n" << next;
    EXPECT_NE(next.find("site-3,image,", result.size()), std::string::npos) << next;
}

// The README's sessions, run as shown: each "$ cat" writes its table, each
// "$ flintmere" gives exactly the standard error lines shown, each
// "$ echo $?" the status.
TEST_F(RolloutIso, TheReadmesSessionsRunAsShown) {
    const std::string readme = ReadFileBytes(FLINTMERE_SOURCE_DIR "/README.md");
    const std::size_t from = readme.find("## Rollout: many units from one table");
    ASSERT_NE(from, std::string::npos);
    const std::string section = readme.substr(from, readme.find("\n## ", from + 1) - from);
    std::vector<std::vector<std::string>> blocks(1);
    std::istringstream in(section);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("    ")) {
            blocks.back().push_back(line.substr(4));
        } else if (!blocks.back().empty()) {
            blocks.emplace_back();
        }
    }
    std::size_t sessions = 0;
    for (const std::vector<std::string>& block : blocks) {
        if (block.empty() || !block.front().starts_with("$ cat ")) continue;
        ++sessions;
        ProgramResult last;
        for (std::size_t i = 0; i < block.size();) {
            const std::string command = block[i++];
            std::vector<std::string> shown;
            while (i < block.size() && !block[i].starts_with("$ ")) shown.push_back(block[i++]);
            SCOPED_TRACE(command);
            if (command.starts_with("$ cat ")) {
                std::string text;
                for (const std::string& line : shown) text += line + "\n";
                WriteFileBytes(dir / command.substr(6), text);
            } else if (command.starts_with("$ flintmere ")) {
                std::istringstream words(command.substr(12));
                std::vector<std::string> args;
                for (std::string word; words >> word;) args.push_back(word);
                last = Run(args);
                std::vector<std::string> err;
                std::istringstream lines(last.err);
                for (std::string line; std::getline(lines, line);) err.push_back(line);
                EXPECT_EQ(err, shown) << last.out << Logs();
            } else if (command == "$ echo $?") {
                ASSERT_EQ(shown.size(), 1u);
                EXPECT_EQ(std::to_string(last.exitStatus), shown[0]) << last.out << last.err;
            } else {
                ADD_FAILURE() << "not a command this test knows";
            }
        }
    }
    EXPECT_EQ(sessions, 3u);
}

// Where the work goes is checked before any of it: nothing is staged.
TEST_F(RolloutIso, OutputThatCannotTakeTheWorkIsFoundFirst) {
    WriteFileBytes(
        dir / "units.csv",
        "kestrel_label,kestrel_lan,kestrel_wan,hw_platform,vm_platform\n"
        "site-1,10.1.0.11 255.255.255.0,10.2.0.11 255.255.255.0,advantech250,Vhw_Small\n"
        "site-2,10.1.0.12 255.255.255.0,10.2.0.12 255.255.255.0,advantech250,Vhw_Small\n");
    WriteFileBytes(dir / "a-file", "");
    fs::create_directories(dir / "small");
    SmallTmpfs small(dir / "small", "16k");
    const std::pair<std::string, std::string> cases[] = {
        {"a-file", "it is not a folder"},
        {"a-file/images", "the folder cannot be made"},
        {"small", "has room for"},
    };
    for (const auto& [folder, why] : cases) {
        if (folder == "small" && !small.Mounted()) {
            std::cerr << "skipped: no small tmpfs here: " << small.Error() << "\n";
            continue;
        }
        const ProgramResult run = Run({"units.csv", "--iso", folder, "--json"});
        EXPECT_EQ(run.exitStatus, 66) << folder << run.out << run.err;
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        ExpectJsonLines(run.out, 66);
        EXPECT_EQ(Logs().find("CopyFiles()"), std::string::npos) << "nothing was staged";
    }
    EXPECT_FALSE(fs::exists(dir / "units.csv.result.csv"));

    // A result file that cannot be written has its own status: found before
    // the work (a folder in its place), or after it (its disk is full).
    fs::create_directories(dir / "units.csv.result.csv");
    const ProgramResult taken = Run({"units.csv", "--iso", "images"});
    EXPECT_EQ(taken.exitStatus, 67) << taken.out << taken.err;
    EXPECT_NE(taken.err.find("is not a file"), std::string::npos) << taken.err;
    EXPECT_FALSE(fs::exists(dir / "images"));
    fs::create_directories(dir / "full");
    SmallTmpfs full(dir / "full", "16k");
    if (!full.Mounted()) GTEST_SKIP() << "no small tmpfs here: " << full.Error();
    fs::copy_file(dir / "units.csv", dir / "full/units.csv");
    RunProgram({"dd", "if=/dev/zero", "of=" + dir / "full/filler", "bs=4k"});
    const ProgramResult lost = Run({"full/units.csv", "--iso", "images"});
    EXPECT_EQ(lost.exitStatus, 67) << lost.out << lost.err;
    EXPECT_NE(lost.err.find("the result could not be written"), std::string::npos) << lost.err;
    EXPECT_NE(lost.out.find("2 units: 2 done"), std::string::npos) << lost.out;
}

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

    FLINTMERE_REQUIRE_TOOLS("python3");
    const ProgramResult json = Run({"units.csv", "--iso", "images", "--json"});
    EXPECT_EQ(json.exitStatus, 65) << json.out << json.err;
    ExpectJsonLines(json.out, 65);
    EXPECT_NE(json.out.find(R"({"event":"refused","row":5,"column":"kestrel_lan",)"),
              std::string::npos)
        << json.out;
    EXPECT_EQ(json.out.find("flintmere:"), std::string::npos) << "human text goes to stderr";
}

}  // namespace
}  // namespace flintmere::testing
