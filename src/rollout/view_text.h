// Text helpers shared by the rollout's views: what reaches a terminal, a log
// line or a JSON string must be one line of valid UTF-8, whatever a tool said.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "rollout/rollout_report.h"

namespace flintmere::rollout_text {

// The length of the valid UTF-8 sequence at `pos`, or 0 when the byte there
// does not start one (overlong forms and surrogates are not valid).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t pos);

// One line: control characters become spaces, invalid bytes U+FFFD.
std::string OneLine(std::string_view text);

// The cells of a terminal `c` takes: 0, 1, or 2 (East Asian wide).
std::size_t CellWidth(char32_t c);
// Terminal cells, not bytes or characters: what a column width counts.
std::size_t Columns(std::string_view text);
// At most `width` cells, never splitting a character.
std::string CutToColumns(std::string_view text, std::size_t width);
// At most `width` cells, the middle left out ("/srv/…/site-1.iso"): a
// path keeps its file name whole when it fits.
std::string ElideMiddle(std::string_view text, std::size_t width);
// "1:05", "1:02:03"; "" when unknown.
std::string DurationText(double seconds);
// Cut to `width`, then filled with spaces to it.
std::string FitToColumns(std::string_view text, std::size_t width);

// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

// The rate with one decimal, whatever the locale's decimal mark; "" when
// unknown (negative, or not a number).
std::string MbPerSecondText(double mbPerSecond);

// "done", "failed: <reason>", "canceled", as a unit's line ends.
std::string EndingText(const UnitOutcome& outcome);

// "3 units: 2 done, 1 failed": done always, the other statuses when any.
std::string CountsLine(const std::vector<UnitOutcome>& outcomes);

// Writes everything and flushes; a view has no one to tell of a failed write.
void WriteAll(std::FILE* out, std::string_view text);

}  // namespace flintmere::rollout_text
