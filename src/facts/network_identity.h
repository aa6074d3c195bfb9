#pragma once

#include "driver/run_records.h"

namespace qoramark {

// macAddress and ipAddress of the first adapter record; both stay empty when
// the adapter query fails.
void gatherNetworkIdentity(RunFacts& facts);

} // namespace qoramark
