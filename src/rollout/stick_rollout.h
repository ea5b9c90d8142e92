// Sticks without a window: the devices named on the command line, checked
// against the disks discovery lists, shown to the operator with the unit
// each gets, and written in parallel, each by the stick writer with its
// own read-back.
#pragma once

#include <cstdio>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/app_parts.h"
#include "rollout/rollout_report.h"
#include "rollout/units_table.h"

namespace flintmere {

// The listed removable disk each of `devices` names (a path such as
// /dev/sdb, or a link to it). False with `error` naming the device that is
// not one, is named twice, or is smaller than a stick must be.
bool ResolveSticks(DiskService& disks, const std::vector<std::string>& devices,
                   std::vector<RemovableDisk>& sticks, std::string& error);

// A unit's stick, waiting.
UnitOutcome StickOutcome(const UnitRow& unit, const RemovableDisk& disk);

// "/dev/sdb  SanDisk Cruzer  serial 4C530001  8.00 GB" (decimal GB, as on the stick)
std::string DescribeStick(const RemovableDisk& disk);

// Lists each stick with the unit it will get on `out` and asks on `in`;
// true only for an answer starting with y or Y.
bool ConfirmSticks(const std::vector<RemovableDisk>& sticks, const std::vector<UnitRow>& units,
                   std::FILE* out, std::FILE* in);

// Writes units[i] onto sticks[i], all at once.
std::vector<UnitOutcome> RunStickRollout(AppParts& app, const std::vector<UnitRow>& units,
                                         const std::vector<RemovableDisk>& sticks,
                                         RolloutView& view, const std::stop_source& stop);

}  // namespace flintmere
