#include "facts/network_identity.h"

#include <algorithm>
#include <cstdio>

namespace qoramark {

namespace {

std::string macAddressText(const platform::AdapterRecord& record) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", record.address[0],
                  record.address[1], record.address[2], record.address[3], record.address[4],
                  record.address[5]);
    return text;
}

// The record's text up to its terminating zero, and never past its 16 bytes.
std::string ipAddressText(const platform::AdapterRecord& record) {
    const auto end = std::find(record.ipAddress.begin(), record.ipAddress.end(), '\0');
    return std::string(record.ipAddress.begin(), end);
}

} // namespace

void takeNetworkIdentity(std::uint32_t queryStatus, const platform::AdapterRecord& first,
                         RunFacts& facts) {
    if (queryStatus != platform::adapterQuerySucceeded) {
        return;
    }
    facts.macAddress = macAddressText(first);
    facts.ipAddress = ipAddressText(first);
}

void gatherNetworkIdentity(RunFacts& facts) {
    platform::AdapterRecord first;
    const std::uint32_t status = platform::queryFirstAdapter(first);
    takeNetworkIdentity(status, first, facts);
}

} // namespace qoramark
