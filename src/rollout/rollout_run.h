// A rollout from the command line: reads the units (a table, a database or
// a node.cfg), refuses the whole lot at the first doubt, writes the media,
// shows progress, and ends with the summary and an exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/app_parts.h"

namespace flintmere {

struct RolloutStreams {
    std::FILE* out = stdout;  // progress and the summary
    std::FILE* err = stderr;  // refusals, the sticks' list and the question
    std::FILE* in = stdin;    // the answer
    // Images mastered at once; 0: one per core.
    unsigned parallel = 0;
};

// `app` has its folders and log; `args` are the program's arguments.
// Returns the exit status (see rollout_report.h).
int RunRollout(AppParts& app, const std::vector<std::string>& args,
               const RolloutStreams& streams = {});

extern const char kRolloutUsageText[];

}  // namespace flintmere
