#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "run/records.h"

namespace qoramark {

// The setup file's last-write moment into setupTime and setupDateString; both
// stay as they are when the file's time cannot be read.
void stampSetupFile(const std::string& setupFile, RunFacts& facts);

// The current moment into runTime and runDateString.
void stampRun(RunFacts& facts);

// "%d.%m.%Y %X" in the "C" locale: always 19 characters, 24-hour clock.
std::string formatTimeStamp(const std::tm& localTime);

// A moment as the stored 32-bit count: -1 outside 0..2147483647.
std::int32_t timeCount(std::int64_t moment);

} // namespace qoramark
