#include "rollout/rollout_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <thread>

#include "config/node_cfg_tokens.h"
#include "platform/termination_signals.h"
#include "rollout/iso_rollout.h"
#include "rollout/output_check.h"
#include "rollout/result_file.h"
#include "rollout/rollout_command.h"
#include "rollout/stick_rollout.h"
#include "rollout/unit_check.h"
#include "rollout/unwritten_columns.h"
#include "rollout/view_text.h"

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
    Run(AppParts& app, const RolloutCommand& command, const RolloutStreams& streams)
        : app_(app),
          command_(command),
          io_(streams),
          human_(command.json ? streams.err : streams.out) {}

    // Every run with --json ends with its summary object, whatever ended it.
    int Execute() {
        const int status = Work();
        if (command_.json) {
            Json(JsonSummaryLine({status, outcomes_, resultPath_, resultWritten_}));
        }
        return status;
    }

  private:
    int Work();
    void Json(const std::string& line) {
        if (command_.json) rollout_text::WriteAll(io_.out, line);
    }
    int Refused(const std::string& why, int status = kRolloutRefused) {
        std::fprintf(io_.err, "flintmere: %s\n", why.c_str());
        app_.services.WriteLog("RunRollout(): refused: %s", why.c_str());
        Json(JsonMessageLine("error", why));
        return status;
    }
    // A line for the operator on standard error.
    void Say(const std::string& text) {
        std::fprintf(io_.err, "flintmere: %s\n", text.c_str());
        app_.services.WriteLog("RunRollout(): %s", text.c_str());
        Json(JsonMessageLine("note", text));
    }
    bool LoadUnits();
    bool ReadEarlier();
    bool PickImages();
    bool PickSticks();
    std::vector<UnitOutcome> Write(RolloutView& view);
    std::unique_ptr<RolloutView> MakeView();

    AppParts& app_;
    const RolloutCommand& command_;
    RolloutStreams io_;
    std::FILE* human_;  // the summary: standard output, or standard error beside JSON
    std::vector<UnitRow> units_;
    std::vector<RemovableDisk> sticks_;
    std::vector<UnitOutcome> earlier_;
    std::vector<UnitOutcome> outcomes_;
    std::string resultPath_;
    bool resultWritten_ = false;
    std::stop_source stop_;
    int refusedStatus_ = 0;
};

bool Run::LoadUnits() {
    const bool iso = !command_.isoFolder.empty();
    if (command_.source == RolloutCommand::Source::Database) {
        if (!app_.config.OpenDbFile(app_.record, FromPath(command_.path))) {
            refusedStatus_ = Refused(command_.path + " could not be imported");
            return false;
        }
        const std::vector<SplittingValue> splitting = FindSplittingValues(app_.record);
        if (!splitting.empty()) {
            const SplittingValue& v = splitting.front();
            refusedStatus_ = Refused(
                Utf16ToUtf8(FormatW(u"the database gives the %s (%s) the value %s, which %s",
                                    v.field, v.key, QuotedForMessage(v.value), RefusalReason(v))));
            return false;
        }
        UnitRow unit;
        unit.record = app_.record;
        unit.record.m_configSource = ConfigFromDatabase;
        unit.hostName = Utf16ToUtf8(app_.record.m_serverName);
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
            app_.services.WriteLog("RunRollout(): %s", DescribeRefusal(refusal).c_str());
            Json(JsonRefusalLine(refusal.row, refusal.column, refusal.reason));
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
    resultPath_ = command_.path + ".result.csv";
    if (table.encoding == "Windows-1252") {
        Say(command_.path + " is not UTF-8 text: it is read as Windows-1252");
    }
    // Not dropped in silence: the operator may have meant them for the medium.
    const std::vector<std::string> unwritten = UnwrittenColumns(units_, iso);
    if (!unwritten.empty()) {
        std::string names;
        for (const std::string& name : unwritten) names += (names.empty() ? "" : ", ") + name;
        Say(command_.path + ": " + (iso ? "an image's" : "a stick's") +
            " node.cfg leaves these columns empty, so their values are not written: " + names);
    }
    return true;
}

// The earlier attempts; a file that is there but not a result file is
// left alone, and nothing is written.
bool Run::ReadEarlier() {
    std::string error;
    if (resultPath_.empty() || ReadResultFile(resultPath_, earlier_, error)) return true;
    refusedStatus_ =
        Refused("the result file cannot be written without losing what it holds: " + error +
                    "; nothing was written",
                kRolloutResultLost);
    return false;
}

// The units without a done image in the folder (one whose file is gone
// counts as not done).
bool Run::PickImages() {
    std::vector<UnitRow> next;
    std::size_t done = 0;
    for (UnitRow& unit : units_) {
        const std::string path = ImagePath(unit, command_.isoFolder);
        struct stat st {};
        if (HasDone(earlier_, unit.hostName, MediumKind::Image, path) &&
            ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ++done;
            continue;
        }
        next.push_back(std::move(unit));
    }
    units_ = std::move(next);
    if (done > 0 && !units_.empty()) {
        Say(FormatA("%zu %s a done image in %s already (see %s); %zu to make", done,
                    done == 1 ? "unit has" : "units have", command_.isoFolder.c_str(),
                    resultPath_.c_str(), units_.size()));
    }
    if (units_.empty()) {
        Say("every unit of " + command_.path + " has a done image in " + command_.isoFolder +
            " (see " + resultPath_ + "); remove an image to make it again");
        return false;
    }
    return true;
}

// The next units without a done stick get the sticks, in the order given.
bool Run::PickSticks() {
    std::string error;
    if (!ResolveSticks(app_.engine.diskService(), command_.sticks, sticks_, error)) {
        refusedStatus_ = Refused(error);
        return false;
    }
    std::vector<UnitRow> next;
    for (UnitRow& unit : units_) {
        const bool done = HasDone(earlier_, unit.hostName, MediumKind::Stick);
        if (!done && next.size() < sticks_.size()) next.push_back(std::move(unit));
    }
    units_ = std::move(next);
    if (units_.empty()) {
        Say("every unit of " + command_.path + " has a done stick (see " + resultPath_ + ")");
        return false;
    }
    if (sticks_.size() > units_.size()) {
        for (std::size_t i = units_.size(); i < sticks_.size(); ++i) {
            Say(sticks_[i].devicePath + " is not written: no unit is left for it");
        }
        sticks_.resize(units_.size());
    }
    // Before the question: a yes must not lead to "could not be started".
    if (const std::string missing = app_.stickWriter.StickWriterProblem(); !missing.empty()) {
        refusedStatus_ = Refused(missing + "; nothing was written", kRolloutNotStarted);
        return false;
    }
    if (!command_.yes && !ConfirmSticks(sticks_, units_, io_.err, io_.in)) {
        Say("nothing was written");
        refusedStatus_ = kRolloutNotStarted;
        return false;
    }
    for (std::size_t i = 0; i < sticks_.size(); ++i) {
        app_.services.WriteLog("RunRollout(): %s gets %s", DescribeStick(sticks_[i]).c_str(),
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

// A terminal that can move its cursor gets the redrawn block; a pipe, a
// log or TERM=dumb plain lines.
std::unique_ptr<RolloutView> Run::MakeView() {
    if (command_.json) return MakeJsonView(io_.out);
    const char* term = std::getenv("TERM");
    const bool capable = term && *term && std::string_view(term) != "dumb";
    if (capable && ::isatty(::fileno(io_.out))) return MakeTerminalView(io_.out);
    return MakePlainView(io_.out);
}

int Run::Work() {
    // Before any thread: only the wait below takes these.
    TerminationSignals signals;
    const PipeSignalIgnored pipeIgnored;
    app_.services.WriteLog("RunRollout(): %s", command_.path.c_str());
    if (!app_.engine.CheckPendriveSoftware() || !app_.engine.CheckInstallImage()) {
        return Refused("the installation folder " + ToPath(app_.record.m_exeFolder) +
                           " is incomplete; see the log",
                       kRolloutNotStarted);
    }
    if (!LoadUnits() || !ReadEarlier()) return refusedStatus_;
    // Where the work goes is checked before any of it is done.
    if (!resultPath_.empty() && !ResultFileWritable(resultPath_)) {
        return Refused("the result file " + resultPath_ + " cannot be written: " +
                           AppServices::SystemErrorText(errno) + "; nothing was written",
                       kRolloutResultLost);
    }
    if (!command_.isoFolder.empty()) {
        if (!PickImages()) return refusedStatus_;
        const std::string problem = PrepareImageFolder(
            command_.isoFolder,
            EstimatedImageBytes(ToPath(app_.record.m_distFolder), ToPath(app_.record.m_exeFolder)));
        if (!problem.empty()) return Refused(problem + "; nothing was written", kRolloutNotStarted);
    } else if (!PickSticks()) {
        return refusedStatus_;
    }

    std::unique_ptr<RolloutView> view = MakeView();
    std::vector<UnitOutcome> announced;
    for (const UnitRow& unit : units_) {
        const std::size_t i = announced.size();
        announced.push_back(command_.isoFolder.empty() ? StickOutcome(unit, sticks_[i])
                                                       : ImageOutcome(unit, command_.isoFolder));
    }
    view->Begin(announced);

    std::atomic<bool> finished{false};
    int signal = 0;
    {
        std::jthread writer([&] {
            outcomes_ = Write(*view);
            finished = true;
        });
        while (!finished) {
            const int got = signals.Wait(std::chrono::milliseconds(100));
            if (got != 0 && signal == 0) {
                signal = got;
                view->Note(
                    FormatA("%s received: canceling every unit", TerminationSignals::Name(got)));
                app_.services.WriteLog("RunRollout(): %s received, canceling",
                                       TerminationSignals::Name(got));
                stop_.request_stop();
            }
        }
    }
    view->End();

    std::fputs(FormatSummary(outcomes_).c_str(), human_);
    if (!resultPath_.empty()) {
        std::vector<UnitOutcome> attempts = earlier_;
        attempts.insert(attempts.end(), outcomes_.begin(), outcomes_.end());
        resultWritten_ = WriteResultFile(resultPath_, attempts);
        if (resultWritten_) {
            std::fprintf(human_, "The result is in %s\n", resultPath_.c_str());
        }
    }
    std::fflush(human_);
    for (const UnitOutcome& o : outcomes_) {
        app_.services.WriteLog("RunRollout(): %s on %s: %s%s%s", o.unit.c_str(), o.medium.c_str(),
                               StatusName(o.status), o.reason.empty() ? "" : ": ",
                               o.reason.c_str());
    }
    if (!resultPath_.empty() && !resultWritten_) {
        // The summary above is then the only record of what was written.
        return Refused("the result could not be written to " + resultPath_ + ": " +
                           AppServices::SystemErrorText(errno),
                       kRolloutResultLost);
    }
    if (signal != 0) return 128 + signal;
    return RolloutExitStatus(outcomes_);
}

}  // namespace

int RunRollout(AppParts& app, const std::vector<std::string>& args, const RolloutStreams& streams) {
    std::string error;
    const std::optional<RolloutCommand> command = ParseRolloutCommand(args, error);
    if (!command) {
        std::fprintf(streams.err, "flintmere: %s\nUsage:\n%s", error.c_str(), kRolloutUsageText);
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            rollout_text::WriteAll(
                streams.out,
                JsonMessageLine("error", error) + JsonSummaryLine({kRolloutUsage, {}, "", false}));
        }
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
