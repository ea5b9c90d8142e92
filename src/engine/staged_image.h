// The ISO image while it is being mastered: a new file of its own beside
// the final name, which takes that name only once it holds a whole image.
// Until then an earlier image stays as it was, and a failed or cancelled
// build leaves no partial file behind.
#pragma once

#include <string>

namespace flintmere {

class StagedImage {
  public:
    StagedImage() = default;
    StagedImage(const StagedImage&) = delete;
    StagedImage& operator=(const StagedImage&) = delete;
    // A file not committed is removed.
    ~StagedImage();

    // Creates "<finalPath>.XXXXXX" exclusively, with the mode a newly
    // created file gets. `finalPath` must be absolute. False with errno set.
    bool Create(const std::string& finalPath);
    const std::string& Path() const { return path_; }

    // True when the file is a regular file holding an ISO 9660 primary volume
    // descriptor and every block that descriptor counts. False with errno set.
    bool HoldsIso9660Image() const;

    // Flushes the file and renames it onto the final name; a link at that
    // name is replaced, never followed. False with errno set.
    bool Commit();
    // Removes the file; true when there was one to remove. Path() still
    // names it.
    bool Discard();

  private:
    std::string final_;
    std::string path_;
    bool live_ = false;  // the file is there and not committed
};

}  // namespace flintmere
