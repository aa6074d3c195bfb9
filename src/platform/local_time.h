#pragma once

#include <cstdint>
#include <ctime>

namespace qoramark::platform {

// The C library's localtime for a 64-bit moment, under the process's time-zone
// rules; false when the library cannot form the broken-down time.
bool toLocalTime(std::int64_t moment, std::tm& localTime);

// The C library's mktime in 64 bits: the fields read as local time (tm_isdst
// -1 leaves daylight saving to the rules for that date), normalised in place;
// -1 when the library cannot represent the moment.
std::int64_t fromLocalTime(std::tm& localTime);

} // namespace qoramark::platform
