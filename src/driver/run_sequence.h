#pragma once

#include <cstdint>
#include <string>

namespace qoramark {

// One run from the command-line tail to the exit code: 0 after the usage box,
// otherwise the status of the version key's writes.
std::int32_t runQoramark(const std::string& commandLineTail);

} // namespace qoramark
