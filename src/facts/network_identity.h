#pragma once

#include <cstdint>
#include <string>

#include "platform/adapters.h"
#include "run/records.h"

namespace qoramark {

// macAddress and ipAddress of the first adapter record; both stay empty when
// the adapter query fails.
void gatherNetworkIdentity(RunFacts& facts);

// After a successful adapter query, the two texts of its first record: six
// address bytes as "%02X:%02X:%02X:%02X:%02X:%02X" whatever the address
// length, and the IP address text unchanged; after a failed one both stay as
// they are. Both builds format through this.
void takeNetworkIdentity(std::uint32_t queryStatus, const platform::AdapterRecord& first,
                         RunFacts& facts);

} // namespace qoramark
