#include "platform/account_name.h"

#include <pwd.h>
#include <unistd.h>

#include "platform/environment.h"

namespace qoramark::platform {

namespace {

// Linux shells rarely set USERNAME, so the account database names the user
// who runs the program; an account without a name there gives none.
std::optional<std::string> runningAccountName() {
    const passwd* account = getpwuid(getuid());
    if (account == nullptr || account->pw_name == nullptr || account->pw_name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(account->pw_name);
}

} // namespace

std::optional<std::string> samAccountName() {
    if (auto variable = environmentVariable("USERNAME")) {
        return variable;
    }
    return runningAccountName();
}

} // namespace qoramark::platform
