// What a rollout checks before it stages or writes anything: the folder
// its images go to, and the stick writer it will start.
#pragma once

#include <cstdint>
#include <string>

namespace flintmere {

// Makes `folder` (and the folders above it) when it is missing. Why the
// images cannot go there: not a folder, cannot be made, no file can be
// made in it, or less room than `imageBytes`. "" when they can.
std::string PrepareImageFolder(const std::string& folder, std::uint64_t imageBytes);

// About the bytes of one image: the files of the installation folder that
// an image holds (the distribution and the boot files).
std::uint64_t EstimatedImageBytes(const std::string& distFolder, const std::string& exeFolder);

// "8.00 GB", "14.9 GB", "532 MB": powers of ten, as a stick's label gives it.
std::string DecimalSize(std::uint64_t bytes);

}  // namespace flintmere
