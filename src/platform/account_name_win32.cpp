#include "platform/account_name.h"

#include "platform/environment.h"

namespace qoramark::platform {

// Windows sets USERNAME in every logon session; the variable alone decides.
std::optional<std::string> samAccountName() {
    return environmentVariable("USERNAME");
}

} // namespace qoramark::platform
