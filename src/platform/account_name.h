#pragma once

#include <optional>
#include <string>

namespace qoramark::platform {

// The SAM account name of the user who runs the program: the USERNAME
// variable, found as environmentVariable finds names. Where the platform has
// no such variable by habit, the account database stands in for it. None
// when neither names the account.
std::optional<std::string> samAccountName();

} // namespace qoramark::platform
