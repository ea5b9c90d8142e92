// "<table>.result.csv": the outcome of every unit of the table so far. A
// stick run takes the units not yet done, so the table is written a few
// sticks at a time across runs.
#pragma once

#include <string>
#include <vector>

#include "rollout/rollout_report.h"

namespace flintmere {

// The outcomes an earlier run wrote; empty when there is no such file or
// it cannot be read as one.
std::vector<UnitOutcome> ReadResultFile(const std::string& path);

// `earlier` with each unit of `latest` put in its place (or added), in the
// order of `tableOrder` (host names); units not in the table are dropped.
std::vector<UnitOutcome> MergeOutcomes(const std::vector<UnitOutcome>& earlier,
                                       const std::vector<UnitOutcome>& latest,
                                       const std::vector<std::string>& tableOrder);

// Replaces the file in one step. False with errno set.
bool WriteResultFile(const std::string& path, const std::vector<UnitOutcome>& outcomes);

}  // namespace flintmere
