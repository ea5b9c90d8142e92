// The ISO sequence as a job: the tree in a temporary folder, the mastering
// tool over it, the image under its name only once whole. It reads the
// run's settings from the request and ends in an outcome.
#pragma once

#include <memory>
#include <string>

#include "engine/media_engine.h"
#include "engine/outcome.h"
#include "engine/staged_image.h"

namespace flintmere {

class IsoJob {
  public:
    IsoJob(MediaEngine& engine, const SetupRecord& request) : engine_(engine), request_(request) {}

    // Runs the sequence; the failure has not been shown yet.
    Outcome Run();
    // After a failure's box: the unfinished image goes, and the tree unless
    // it is kept for inspection.
    void CleanUpAfterFailure();

  private:
    Outcome MakeTree();
    Outcome WriteConfigFiles();
    Outcome CopyTree();
    Outcome Master();
    // A required file of the tree that was not written in full, or Done.
    Outcome TreeIncomplete();
    Outcome Stopped();
    Outcome Failed(OutcomeKind kind, int error, std::string path = {});
    void DiscardImage();
    void RemoveTree();

    MediaEngine& engine_;
    const SetupRecord& request_;
    std::string imagePath_;
    std::string tree_;
    StagedImage staged_;
    std::unique_ptr<LocalFolderRoot> root_;
};

}  // namespace flintmere
