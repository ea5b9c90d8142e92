// "<table>.result.csv": a ledger of every attempt at a unit's medium, one
// row each, images and sticks apart. A run only adds rows, so an image run
// never changes what the sticks' rows say, and the other way round; the
// next units of a medium are those without a done attempt of that medium.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "rollout/rollout_report.h"

namespace flintmere {

// The attempts an earlier run wrote: none when there is no such file.
// Also reads the four-column file of earlier versions. False with `error`
// when the file is there but cannot be read, or is not a result file:
// writing over it would lose what it holds.
bool ReadResultFile(const std::string& path, std::vector<UnitOutcome>& attempts,
                    std::string& error);

// Whether `unit` has a done attempt of `kind`; with `device`, onto that
// device (an image: that file).
bool HasDone(const std::vector<UnitOutcome>& attempts, const std::string& unit, MediumKind kind,
             const std::string& device = "");

// Whether the file can be replaced: a file can be made next to it. False
// with errno set.
bool ResultFileWritable(const std::string& path);

// Replaces the file in one step. False with errno set.
bool WriteResultFile(const std::string& path, const std::vector<UnitOutcome>& attempts);

// "2026-12-10T10:49:45Z"
std::string Iso8601Utc(std::time_t when);

}  // namespace flintmere
