// The columns of a table whose values the medium's node.cfg leaves out:
// an image's node.cfg holds no DNS servers, logical id, QMX URLs or stick
// options, whatever the table says. The operator is told before the run.
#pragma once

#include <string>
#include <vector>

#include "rollout/units_table.h"

namespace flintmere {

// The header's names of the columns that some unit gives a value the
// node.cfg written for it (an image's when `iso`) holds as empty or 0.
std::vector<std::string> UnwrittenColumns(const std::vector<UnitRow>& units, bool iso);

}  // namespace flintmere
