#include "facts/network_identity.h"

namespace qoramark {

void gatherNetworkIdentity(RunFacts&) {}

} // namespace qoramark
