// The stick sequence as a job: its steps over the engine's services (clock,
// log, progress, stop, tools, disks and the presenter of its questions),
// reading the run's settings from the request and ending in an outcome.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/media_engine.h"
#include "engine/outcome.h"

namespace flintmere {

class StickJob {
  public:
    StickJob(MediaEngine& engine, const SetupRecord& request)
        : engine_(engine), request_(request) {}

    // Runs the sequence; the failure has not been shown yet.
    Outcome Run();
    // A boot file that could not be copied keeps the run a moment longer
    // after its box, as every other end of the sequence does.
    bool PausesAtEnd() const { return pausesAtEnd_; }

  private:
    Outcome Locate();
    Outcome FindVolume();
    Outcome ReleaseMounts();
    Outcome InstallSyslinux();
    Outcome CopyBootFiles();
    Outcome WriteGeneratedFiles();
    Outcome CopyAndFlush();
    Outcome Verify();
    // A failure of a step on the stick: the stick being gone overrides it.
    Outcome Failed(OutcomeKind kind, int error, const std::string& toolLine = {});
    // The first file the stick did not take, as a write error.
    Outcome NotWritten();
    Outcome BootFileFailed(int error);
    Outcome Stopped();

    MediaEngine& engine_;
    const SetupRecord& request_;
    StickLocation stick_;
    bool copyOnly_ = false;
    bool pausesAtEnd_ = false;
    int pos_ = 1;
    std::optional<PartitionEntry> written_;
    std::string volume_;
    std::unique_ptr<FatVolumeRoot> root_;
};

}  // namespace flintmere
