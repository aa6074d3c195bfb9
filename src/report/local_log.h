#pragma once

#include <string>
#include <vector>

#include "run/records.h"

namespace qoramark {

// The twelve lines of one run's log block, without line ends.
std::vector<std::string> formatLocalLogBlock(const RunSettings& settings, const RunFacts& facts);

// Appends the twelve-line block to the local log file when localLog is set.
void writeLocalLog(const RunSettings& settings, const RunFacts& facts);

} // namespace qoramark
