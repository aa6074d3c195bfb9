#include "facts/account_names.h"

#include "platform/account_name.h"
#include "platform/environment.h"

namespace qoramark {

void gatherAccountNames(RunFacts& facts) {
    if (const auto user = platform::samAccountName()) {
        facts.samName = *user;
    }
    const auto ndsUser = platform::environmentVariable("NWUSERNAME");
    const auto context = platform::environmentVariable("LOGINCONTEXT");
    if (ndsUser && context) {
        facts.ndsName = "." + *ndsUser + "." + *context;
    }
}

} // namespace qoramark
