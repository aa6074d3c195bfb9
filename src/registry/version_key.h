#pragma once

#include <cstdint>
#include <string>

#include "run/records.h"

namespace qoramark {

// Writes the version key's values that the settings ask for and gives the exit code.
std::int32_t writeVersionKey(RootKey rootKey, const std::string& versionKeyPath,
                             const RunSettings& settings, const RunFacts& facts);

} // namespace qoramark
