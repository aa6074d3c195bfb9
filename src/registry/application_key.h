#pragma once

#include <cstdint>
#include <string>

#include "run/records.h"

namespace qoramark {

// Replaces currentversion with appVersion and gives this run's runCount: the
// stored RunCount plus one when currentversion already named this version, else 0.
std::uint32_t updateApplicationKey(RootKey rootKey, const std::string& appKeyPath,
                                   const std::string& versionKeyPath,
                                   const std::string& appVersion);

} // namespace qoramark
