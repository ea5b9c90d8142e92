// Runs the copy engine or the whole ISO build once, with the fixed pauses
// taken out, so that bench/iso_bench.sh can time the work itself.
//   iso_bench_driver copy DIST_FOLDER TARGET_FOLDER
//   iso_bench_driver iso INSTALL_FOLDER DATABASE IMAGE
#include <cstdio>
#include <cstring>
#include <string>

#include "app/flintmere_app.h"
#include "no_pause_clock.h"

namespace {

using namespace flintmere;

// A progress dialog that takes every report, as a window would.
class CountingProgress final : public ProgressDialog {
  public:
    bool IsReady() override { return true; }
    void SetPos(int position) override {
        position_ = position;
        ++reports;
    }
    int GetPos() override { return position_; }
    void SetAction(const u16&) override { ++reports; }
    void RequestClose() override {}
    long reports = 0;

  private:
    int position_ = 0;
};

int Usage() {
    std::fputs("usage: iso_bench_driver copy DIST TARGET | iso INSTALL DATABASE IMAGE\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    NoPauseClock clock;
    ConsolePresenter presenter;
    LinuxSystemEnv env;
    CflintmereApp whole({clock, presenter, env, {}});
    AppParts& app = whole.parts;
    CountingProgress progress;
    app.engine.m_pProgressDlg = &progress;

    if (std::strcmp(argv[1], "copy") == 0 && argc == 4) {
        app.record.m_distFolder = FromPath(std::string(argv[2]) + "/");
        LocalFolderRoot target(argv[3]);
        bool ok = app.engine.CopyFiles(target, 50);
        std::fprintf(stderr, "copy: %s, %ld progress reports\n", ok ? "ok" : "failed",
                     progress.reports);
        return ok ? 0 : 1;
    }
    if (std::strcmp(argv[1], "iso") == 0 && argc == 5) {
        app.record.m_exeFolder = FromPath(argv[2]);
        app.record.m_distFolder = app.record.m_exeFolder + u"/kx/";
        bool imported = app.config.OpenDbFile(app.record, FromPath(argv[3]));
        app.record.m_isoPath = FromPath(argv[4]);
        app.record.m_configSource = ConfigFromDatabase;
        int result = app.engine.SetupISO();
        std::fprintf(stderr, "iso: %s, %ld progress reports\n",
                     result == 1 && imported ? "ok" : "failed", progress.reports);
        return result == 1 && imported ? 0 : 1;
    }
    return Usage();
}
