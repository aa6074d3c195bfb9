#pragma once

#include <optional>
#include <string>

namespace qoramark::platform {

// The environment variable's text, unchanged; none when it is not defined (an
// empty text counts as defined). Names match without regard to ASCII case, as
// on Windows; where names are case-sensitive an exact match wins, otherwise
// the first variable in the environment whose name matches is taken.
std::optional<std::string> environmentVariable(const std::string& name);

} // namespace qoramark::platform
