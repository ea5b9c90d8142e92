#include "rollout/rollout_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "config/node_cfg_tokens.h"
#include "platform/termination_signals.h"
#include "rollout/iso_rollout.h"
#include "rollout/result_file.h"
#include "rollout/rollout_command.h"
#include "rollout/stick_rollout.h"
#include "rollout/unit_check.h"

namespace flintmere {

const char kRolloutUsageText[] =
    "       flintmere UNITS.csv --iso DIR [--json]\n"
    "                                      one image DIR/<host name>.iso per unit of the table\n"
    "       flintmere UNITS.csv --stick DEVICE [--stick DEVICE ...] [--yes] [--json]\n"
    "                                      the next units of the table, one per stick\n"
    "       flintmere SITE.xml --stick DEVICE [--yes]\n"
    "       flintmere node.cfg --stick DEVICE [--yes]\n"
    "                                      one stick from a database or a node.cfg\n";

namespace {

constexpr std::size_t kMaxSourceBytes = 16u << 20;

bool ReadSource(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + AppServices::SystemErrorText(errno);
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (text.size() > kMaxSourceBytes) {
        error = path + " is too large to be a units table or node.cfg";
        return false;
    }
    return true;
}

class Run {
  public:
    Run(MediaEngine& app, const RolloutCommand& command, const RolloutStreams& streams)
        : app_(app), command_(command), io_(streams) {}

    int Execute();

  private:
    int Refused(const std::string& why) {
        std::fprintf(io_.err, "flintmere: %s\n", why.c_str());
        app_.WriteLog("RunRollout(): refused: %s", why.c_str());
        return kRolloutRefused;
    }
    bool LoadUnits();
    bool PickSticks();
    std::vector<UnitOutcome> Write(RolloutView& view);

    MediaEngine& app_;
    const RolloutCommand& command_;
    RolloutStreams io_;
    std::vector<UnitRow> units_;
    std::vector<std::string> tableOrder_;
    std::vector<RemovableDisk> sticks_;
    std::vector<UnitOutcome> earlier_;
    std::string resultPath_;
    std::stop_source stop_;
    int refusedStatus_ = 0;
};

bool Run::LoadUnits() {
    const bool iso = !command_.isoFolder.empty();
    if (command_.source == RolloutCommand::Source::Database) {
        if (!app_.OpenDbFile(FromPath(command_.path))) {
            refusedStatus_ = Refused(command_.path + " could not be imported");
            return false;
        }
        const std::vector<SplittingValue> splitting = FindSplittingValues(app_);
        if (!splitting.empty()) {
            const SplittingValue& v = splitting.front();
            refusedStatus_ = Refused(
                Utf16ToUtf8(FormatW(u"the database gives the %s (%s) the value %s, which %s",
                                    v.field, v.key, QuotedForMessage(v.value), RefusalReason(v))));
            return false;
        }
        UnitRow unit;
        unit.record = static_cast<const SetupRecord&>(app_);
        unit.record.m_configSource = ConfigFromDatabase;
        unit.hostName = Utf16ToUtf8(app_.m_serverName);
        units_.push_back(std::move(unit));
        return true;
    }
    std::string text, error;
    if (!ReadSource(command_.path, text, error)) {
        refusedStatus_ = Refused(error);
        return false;
    }
    const UnitCheck check = MakeNodeCfgModeCheck(iso);
    if (command_.source == RolloutCommand::Source::NodeFile) {
        UnitRow unit;
        unit.nodeCfg = text;
        if (std::optional<TableRefusal> refusal = check(unit)) {
            refusedStatus_ = Refused(command_.path + ": " + refusal->reason);
            return false;
        }
        units_.push_back(std::move(unit));
        return true;
    }
    UnitsTable table = ReadUnitsTable(text, check);
    if (!table.refusals.empty()) {
        for (const TableRefusal& refusal : table.refusals) {
            std::fprintf(io_.err, "flintmere: %s: %s\n", command_.path.c_str(),
                         DescribeRefusal(refusal).c_str());
            app_.WriteLog("RunRollout(): %s", DescribeRefusal(refusal).c_str());
        }
        refusedStatus_ = Refused(FormatA("the table was refused (%zu %s); nothing was written",
                                         table.refusals.size(),
                                         table.refusals.size() == 1 ? "reason" : "reasons"));
        return false;
    }
    if (table.units.empty()) {
        refusedStatus_ = Refused(command_.path + " holds no units");
        return false;
    }
    units_ = std::move(table.units);
    for (const UnitRow& unit : units_) tableOrder_.push_back(unit.hostName);
    resultPath_ = command_.path + ".result.csv";
    return true;
}

// The next units not yet done get the sticks, in the order given.
bool Run::PickSticks() {
    std::string error;
    if (!ResolveSticks(app_.diskService(), command_.sticks, sticks_, error)) {
        refusedStatus_ = Refused(error);
        return false;
    }
    if (!resultPath_.empty()) earlier_ = ReadResultFile(resultPath_);
    std::vector<UnitRow> next;
    for (UnitRow& unit : units_) {
        bool done = false;
        for (const UnitOutcome& o : earlier_)
            done |= o.unit == unit.hostName && o.status == UnitStatus::Done;
        if (!done && next.size() < sticks_.size()) next.push_back(std::move(unit));
    }
    units_ = std::move(next);
    if (units_.empty()) {
        std::fprintf(io_.err, "flintmere: every unit of %s is done (see %s)\n",
                     command_.path.c_str(), resultPath_.c_str());
        return false;
    }
    if (sticks_.size() > units_.size()) {
        for (std::size_t i = units_.size(); i < sticks_.size(); ++i) {
            std::fprintf(io_.err, "flintmere: %s is not written: no unit is left for it\n",
                         sticks_[i].devicePath.c_str());
        }
        sticks_.resize(units_.size());
    }
    if (!command_.yes && !ConfirmSticks(sticks_, units_, io_.err, io_.in)) {
        std::fprintf(io_.err, "flintmere: nothing was written\n");
        refusedStatus_ = kRolloutNotStarted;
        return false;
    }
    for (std::size_t i = 0; i < sticks_.size(); ++i) {
        app_.WriteLog("RunRollout(): %s gets %s", DescribeStick(sticks_[i]).c_str(),
                      units_[i].hostName.c_str());
    }
    return true;
}

std::vector<UnitOutcome> Run::Write(RolloutView& view) {
    if (!command_.isoFolder.empty()) {
        const unsigned parallel =
            io_.parallel != 0 ? io_.parallel : std::max(1u, std::thread::hardware_concurrency());
        return RunIsoRollout(app_, units_, command_.isoFolder, view, stop_, parallel);
    }
    return RunStickRollout(app_, units_, sticks_, view, stop_);
}

int Run::Execute() {
    // Before any thread: only the wait below takes these.
    TerminationSignals signals;
    const PipeSignalIgnored pipeIgnored;
    app_.WriteLog("RunRollout(): %s", command_.path.c_str());
    if (!app_.CheckPendriveSoftware() || !app_.CheckInstallImage()) {
        std::fprintf(io_.err, "flintmere: the installation folder %s is incomplete; see the log\n",
                     ToPath(app_.m_exeFolder).c_str());
        return kRolloutNotStarted;
    }
    if (!LoadUnits()) return refusedStatus_;
    if (!command_.isoFolder.empty()) {
        struct stat st {};
        if (::stat(command_.isoFolder.c_str(), &st) != 0 &&
            ::mkdir(command_.isoFolder.c_str(), 0755) != 0) {
            return Refused("cannot make the folder " + command_.isoFolder + ": " +
                           AppServices::SystemErrorText(errno));
        }
    } else if (!PickSticks()) {
        return refusedStatus_;
    }

    std::unique_ptr<RolloutView> view = command_.json                 ? MakeJsonView(io_.out)
                                        : ::isatty(::fileno(io_.out)) ? MakeTerminalView(io_.out)
                                                                      : MakePlainView(io_.out);
    std::vector<UnitOutcome> announced;
    for (const UnitRow& unit : units_) {
        const std::size_t i = announced.size();
        const std::string medium = command_.isoFolder.empty()
                                       ? DescribeStick(sticks_[i])
                                       : command_.isoFolder + "/" + unit.hostName + ".iso";
        announced.push_back({unit.hostName, medium, UnitStatus::Waiting, {}});
    }
    view->Begin(announced);

    std::vector<UnitOutcome> outcomes;
    std::atomic<bool> finished{false};
    int signal = 0;
    {
        std::jthread writer([&] {
            outcomes = Write(*view);
            finished = true;
        });
        while (!finished) {
            const int got = signals.Wait(std::chrono::milliseconds(100));
            if (got != 0 && signal == 0) {
                signal = got;
                view->Note(
                    FormatA("%s received: canceling every unit", TerminationSignals::Name(got)));
                app_.WriteLog("RunRollout(): %s received, canceling",
                              TerminationSignals::Name(got));
                stop_.request_stop();
            }
        }
    }
    view->End();

    std::fputs(FormatSummary(outcomes).c_str(), io_.out);
    if (!resultPath_.empty()) {
        const std::vector<UnitOutcome> merged = MergeOutcomes(earlier_, outcomes, tableOrder_);
        if (WriteResultFile(resultPath_, merged)) {
            std::fprintf(io_.out, "The result is in %s\n", resultPath_.c_str());
        } else {
            std::fprintf(io_.err, "flintmere: the result could not be written to %s: %s\n",
                         resultPath_.c_str(), AppServices::SystemErrorText(errno).c_str());
        }
    }
    std::fflush(io_.out);
    for (const UnitOutcome& o : outcomes) {
        app_.WriteLog("RunRollout(): %s on %s: %s%s%s", o.unit.c_str(), o.medium.c_str(),
                      StatusName(o.status), o.reason.empty() ? "" : ": ", o.reason.c_str());
    }
    if (signal != 0) return 128 + signal;
    return RolloutExitStatus(outcomes);
}

}  // namespace

int RunRollout(MediaEngine& app, const std::vector<std::string>& args,
               const RolloutStreams& streams) {
    std::string error;
    const std::optional<RolloutCommand> command = ParseRolloutCommand(args, error);
    if (!command) {
        std::fprintf(streams.err, "flintmere: %s\nUsage:\n%s", error.c_str(), kRolloutUsageText);
        return kRolloutUsage;
    }
    RolloutCommand absolute = *command;
    // The images' names reach the mastering tool, whose folder is not ours.
    if (!absolute.isoFolder.empty()) {
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::absolute(absolute.isoFolder, ec);
        if (!ec) absolute.isoFolder = folder.lexically_normal().string();
        while (absolute.isoFolder.size() > 1 && absolute.isoFolder.back() == '/') {
            absolute.isoFolder.pop_back();
        }
    }
    Run run(app, absolute, streams);
    return run.Execute();
}

}  // namespace flintmere
