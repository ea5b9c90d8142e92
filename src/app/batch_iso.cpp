#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/flintmere_app.h"
#include "config/node_cfg_tokens.h"
#include "platform/termination_signals.h"
#include "rollout/rollout_command.h"

namespace flintmere {
namespace {

// The database path and the image path (without ".iso") of a batch command line.
struct BatchPaths {
    u16 database;
    u16 outputBase;
};

// Paths are relative to the current directory.
u16 Absolute(const u16& path) {
    if (path.empty() || path.front() == u'/') return path;
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return path;
    u16 folder = FromPath(cwd.string());
    if (folder.empty() || folder.back() != u'/') folder += u'/';
    return folder + path;
}

// In any letter case: SITE2.XML is a database too.
bool EndsWithXml(const u16& path) {
    return HasExtension(ToPath(path), ".xml");
}

// The arguments arrive one by one, so each is taken as given: DB.xml gives
// DB.iso next to it; DB.xml NAME gives NAME.iso in the folder of DB.xml (an
// absolute NAME stays where it says).
bool PathsFromArguments(const std::vector<u16>& args, BatchPaths& paths) {
    if (args.empty() || args.size() > 2 || !EndsWithXml(args[0])) return false;
    const u16& database = args[0];
    if (args.size() == 1) {
        paths.outputBase = database.substr(0, database.size() - 4);
    } else {
        const u16& name = args[1];
        if (name.empty() || name.back() == u'/') return false;
        const size_t slash = database.rfind(u'/');
        const u16 folder = slash == u16::npos ? u16() : database.substr(0, slash + 1);
        paths.outputBase = name.front() == u'/' ? name : folder + name;
    }
    paths.database = Absolute(database);
    paths.outputBase = Absolute(paths.outputBase);
    return true;
}

void Report(const std::string& text) {
    std::fprintf(stderr, "flintmere: %s\n", text.c_str());
}

}  // namespace

int CflintmereApp::RunBatchIso(const std::vector<u16>& args) {
    // Before the worker exists, so that it and the tools inherit the mask
    // and only the wait below takes these signals.
    TerminationSignals signals;
    // A closed standard error must not end the run halfway: the clean-up
    // below still has to happen.
    const PipeSignalIgnored pipeIgnored;
    u16 given;
    for (const u16& arg : args) given += (given.empty() ? u"" : u" ") + QuotedForMessage(arg);
    parts.services.WriteLogW(u"RunBatchIso(): start %s", given);
    BatchPaths paths;
    if (!PathsFromArguments(args, paths)) {
        parts.services.DisplayMessage(FormatW(u"Not a configuration database: %s", given));
        Report("give the path of a configuration database (.xml) and at most an image name");
        return kExitUsage;
    }
    parts.services.WriteLogW(u"RunBatchIso(): database %s", paths.database);

    // A failed import has shown its message; the image is built from the
    // record as the import left it, and the exit status tells.
    const bool imported = parts.config.OpenDbFile(parts.record, paths.database);

    parts.record.m_isoPath = paths.outputBase + u".iso";
    parts.record.m_configSource = ConfigFromDatabase;
    parts.services.WriteLogW(u"RunBatchIso(): image %s", parts.record.m_isoPath);

    auto interrupted = [this](int signal) {
        parts.services.WriteLog("RunBatchIso(): %s received, run canceled",
                                TerminationSignals::Name(signal));
        Report(FormatA("%s received: canceled, the ISO image %s was not built",
                       TerminationSignals::Name(signal), ToPath(parts.record.m_isoPath).c_str()));
        return 128 + signal;
    };
    if (const int signal = signals.Wait(std::chrono::milliseconds(0))) return interrupted(signal);

    // No check of the window runs here, so a value that would read back as
    // other keys of node.cfg is refused rather than written.
    const std::vector<SplittingValue> refused = FindSplittingValues(parts.record);
    if (!refused.empty()) {
        for (const SplittingValue& v : refused) {
            parts.services.DisplayMessage(
                FormatW(u"The database gives the %s (%s) the value %s, which %s", v.field, v.key,
                        QuotedForMessage(v.value), RefusalReason(v)));
        }
        Report(
            FormatA("the ISO image %s was not built: the database holds values that would "
                    "change the layout of node.cfg",
                    ToPath(parts.record.m_isoPath).c_str()));
        parts.services.WriteLog("RunBatchIso(): done, database refused");
        return kExitRefused;
    }

    parts.engine.m_wholeTreeRequired = true;
    parts.engine.m_keepFailedTree = true;
    if (!parts.engine.StartWorker([this] { return parts.engine.SetupISO(); })) {
        Report("the ISO image was not built: the worker could not be started");
        return kExitNotBuilt;
    }
    int signal = 0;
    while (parts.engine.WorkerRunning() && signal == 0)
        signal = signals.Wait(std::chrono::milliseconds(50));
    if (signal != 0) {
        parts.services.WriteLog("RunBatchIso(): %s received, canceling",
                                TerminationSignals::Name(signal));
        // Ends the tool's process group; the worker removes its tree and
        // the unfinished image.
        parts.engine.CancelSetup();
        if (parts.engine.m_setupStatus == SetupCanceled) return interrupted(signal);
        // The build had already ended on its own: its outcome stands.
        parts.services.WriteLog("RunBatchIso(): %s came after the build had ended",
                                TerminationSignals::Name(signal));
    }
    parts.engine.WaitWorker();

    const bool built =
        parts.engine.m_setupStatus == SetupComplete && parts.engine.m_lastOutcome.Complete();
    parts.services.WriteLog("RunBatchIso(): done, database %s, image %s",
                            imported ? "imported" : "not imported", built ? "built" : "not built");
    if (!built) {
        if (parts.engine.m_lastOutcome.kind == OutcomeKind::ToolFailed &&
            parts.engine.m_lastToolExitCode != 0) {
            Report(FormatA("the mastering tool ended with exit code %d",
                           parts.engine.m_lastToolExitCode));
        }
        Report(FormatA("the ISO image %s was not built; see the log %s",
                       ToPath(parts.record.m_isoPath).c_str(),
                       parts.services.m_logFile.IsOpen() ? parts.services.m_logFile.Path().c_str()
                                                         : "(none)"));
        return kExitNotBuilt;
    }
    if (!imported) {
        Report(
            FormatA("the configuration database %s was not imported; %s was built from "
                    "the reset configuration",
                    ToPath(paths.database).c_str(), ToPath(parts.record.m_isoPath).c_str()));
        return kExitNotImported;
    }
    return kExitDone;
}

}  // namespace flintmere
