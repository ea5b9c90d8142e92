// ISO images for a whole table: the distribution, boot files and branding
// are staged once in one tree; each unit's image adds a tree of its own
// with its node.cfg (and the boot image the mastering tool stamps), and the
// images are mastered in parallel, one per core.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "engine/app_parts.h"
#include "rollout/rollout_report.h"
#include "rollout/units_table.h"

namespace flintmere {

// `folder`/<host name>.iso
std::string ImagePath(const UnitRow& unit, const std::string& folder);
// A unit's image, waiting.
UnitOutcome ImageOutcome(const UnitRow& unit, const std::string& folder);

// Writes `folder`/<host name>.iso for every unit; each image takes its name
// only once it is whole and holds an ISO 9660 volume. `app` gives the
// folders, the branding and the log. Returns the outcome of every unit.
std::vector<UnitOutcome> RunIsoRollout(AppParts& app, const std::vector<UnitRow>& units,
                                       const std::string& folder, RolloutView& view,
                                       const std::stop_source& stop, unsigned parallel);

}  // namespace flintmere
