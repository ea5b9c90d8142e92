// The check a rollout runs on each unit: what the window does with a
// node.cfg file it opened in its node.cfg mode, and then with OK.
#pragma once

#include "rollout/units_table.h"

namespace flintmere {

// The check of the window's node.cfg mode for one unit, for an ISO image
// (`iso`, the window's virtual-machine entry) or a stick.
//
// The row's node.cfg bytes are read as the window reads a chosen file; the
// form is filled as the window fills its controls from it (option and
// partition boxes, hardware entry, General fields); then OK's validation,
// and the value rule on the values node.cfg will get. The installation
// folder counts as present (the rollout checks it once for the whole
// table), the branding is the default (the rollout checks its own once),
// and a stick is taken to be of the smallest size accepted (the real one
// is checked when it is written). Any box the window would show is a
// refusal, a question too: no one can answer it for a row. The reason is
// the window's text; the column is the key the message is about ("" when
// it is about the row as a whole).
//
// On acceptance `unit.record` is the record the window would run with
// (source node.cfg, loaded, m_isoMedia for ISO, the boxes' flags stored as
// OK stores them) and `unit.hostName` its server name.
UnitCheck MakeNodeCfgModeCheck(bool iso);

}  // namespace flintmere
