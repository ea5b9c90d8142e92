// Times a rollout against the single runs it replaces, for bench/rollout_bench.sh.
//   rollout_bench_driver iso INSTALL_FOLDER TABLE IMAGE_FOLDER
//     each unit's image made by its own whole ISO build, one after another,
//     then the table's images in one rollout; prints "single SECONDS table SECONDS".
//   rollout_bench_driver sticks INSTALL_FOLDER TABLE LOOP_NAME...
//     the table's first unit onto the first stick, then its next units onto
//     all the sticks at once; prints "one SECONDS all SECONDS".
// Fixed pauses are left out; loop devices are admitted as sticks here and in
// the writer built for benchmarks (which INSTALL_FOLDER must hold).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "rollout/rollout_run.h"
#include "rollout/unit_check.h"
#include "stick_bench_app.h"

using namespace flintmere;

namespace {

std::string ReadAll(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

class SilentProgress final : public ProgressDialog {
  public:
    bool IsReady() override { return true; }
    void SetPos(int position) override { position_ = position; }
    int GetPos() override { return position_; }
    void SetAction(const u16&) override {}
    void RequestClose() override {}

  private:
    int position_ = 0;
};

int Iso(AppParts& app, const std::string& table, const std::string& images) {
    const UnitsTable units = ReadUnitsTable(ReadAll(table), MakeNodeCfgModeCheck(true));
    if (!units.refusals.empty() || units.units.empty()) {
        std::fputs("the table was refused\n", stderr);
        return 1;
    }
    std::filesystem::create_directories(images + "/single");
    SilentProgress progress;
    const double single = Seconds([&] {
        for (const UnitRow& unit : units.units) {
            const u16 exe = app.record.m_exeFolder;
            app.record = unit.record;
            app.record.m_exeFolder = exe;
            app.record.m_distFolder = exe + u"/kx/";
            app.record.m_isoMedia = 1;
            app.engine.m_pProgressDlg = &progress;
            app.record.m_isoPath = FromPath(images + "/single/" + unit.hostName + ".iso");
            if (app.engine.SetupISO() != 1) return false;
        }
        return true;
    });
    RolloutStreams quiet{stdout, stderr, stdin, 0};
    std::FILE* devNull = std::fopen("/dev/null", "w");
    quiet.out = devNull;
    const double rollout = Seconds([&] {
        return RunRollout(app, {table, "--iso", images + "/table"}, quiet) == 0;
    });
    std::fclose(devNull);
    if (single < 0 || rollout < 0) return 1;
    std::printf("single %.3f table %.3f\n", single, rollout);
    return 0;
}

int Sticks(AppParts& app, const std::string& table, std::vector<std::string> loops) {
    std::string admitted;
    for (const std::string& loop : loops) admitted += loop + " ";
    ::setenv("FLINTMERE_TEST_ADMIT", admitted.c_str(), 1);
    LinuxDiskService disks(DiskRoots{}, loops);
    app.engine.SetDiskService(&disks);
    std::remove((table + ".result.csv").c_str());
    std::FILE* devNull = std::fopen("/dev/null", "w");
    const RolloutStreams quiet{devNull, stderr, stdin, 0};
    const double one = Seconds([&] {
        return RunRollout(app, {table, "--stick", "/dev/" + loops.front(), "--yes"}, quiet) == 0;
    });
    std::vector<std::string> args = {table};
    for (const std::string& loop : loops) {
        args.push_back("--stick");
        args.push_back("/dev/" + loop);
    }
    args.push_back("--yes");
    const double all = Seconds([&] { return RunRollout(app, args, quiet) == 0; });
    std::fclose(devNull);
    if (one < 0 || all < 0) return 1;
    std::printf("one %.3f all %.3f\n", one, all);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs(
            "usage: rollout_bench_driver iso INSTALL TABLE IMAGES | sticks INSTALL TABLE LOOP...\n",
            stderr);
        return 2;
    }
    BenchApp bench;
    AppParts& app = bench.app.parts;
    app.record.m_exeFolder = FromPath(argv[2]);
    app.record.m_distFolder = app.record.m_exeFolder + u"/kx/";
    app.services.OpenLog();
    if (std::strcmp(argv[1], "iso") == 0 && argc == 5) return Iso(app, argv[3], argv[4]);
    if (std::strcmp(argv[1], "sticks") == 0) {
        return Sticks(app, argv[3], std::vector<std::string>(argv + 4, argv + argc));
    }
    return 2;
}
