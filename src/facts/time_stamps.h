#pragma once

#include <ctime>
#include <string>

#include "driver/run_records.h"

namespace qoramark {

// The setup file's last-write moment into setupTime and setupDateString; both
// stay as they are when the file's time cannot be read.
void stampSetupFile(const std::string& setupFile, RunFacts& facts);

// The current moment into runTime and runDateString.
void stampRun(RunFacts& facts);

// "%d.%m.%Y %X" in the "C" locale: always 19 characters, 24-hour clock.
std::string formatTimeStamp(const std::tm& localTime);

} // namespace qoramark
