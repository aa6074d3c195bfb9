#pragma once

#include <cstdint>

namespace qoramark::platform {

// The current moment in whole seconds since 1970-01-01 00:00:00 UTC, in 64
// bits so that moments after 2038 keep their true value.
//
// The clock files hold this one function and nothing else: a unit test links
// its own definition in their place to hold the moment of the run fixed.
std::int64_t currentMoment();

} // namespace qoramark::platform
