#pragma once

#include "driver/run_records.h"

namespace qoramark {

// Appends the twelve-line block to the local log file when localLog is set.
void writeLocalLog(const RunSettings& settings, const RunFacts& facts);

} // namespace qoramark
