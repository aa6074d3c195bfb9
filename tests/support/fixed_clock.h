#pragma once

#include <cstdint>

namespace qoramark::platform {

// For unit tests that link fixed_clock.cpp in place of the platform's clock:
// currentMoment() answers the moment given here until the next call.
void holdClockAt(std::int64_t moment);

} // namespace qoramark::platform
