#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/adapters.h"

struct ifaddrs;

namespace qoramark::platform {

// One network interface as getifaddrs describes it over its several entries.
struct NetworkInterface {
    std::string name;
    unsigned index = 0;
    bool loopback = false;
    bool up = false; // administratively up (IFF_UP)
    std::vector<std::uint8_t> linkAddress;
    std::optional<std::string> firstIpv4Address;
};

// The interfaces of a getifaddrs list, in the order of their first entry; an
// address listed under a label ("eth0:1") belongs to the interface it labels.
std::vector<NetworkInterface> describeInterfaces(const ifaddrs* entries);

// The interfaces that are up and not loopback, in interface-index order,
// stand for the adapter records of Windows, 640 bytes each in a 1920-byte
// buffer: more than three do not fit and none is no data, as GetAdaptersInfo
// answers.
std::uint32_t selectFirstAdapter(std::vector<NetworkInterface> interfaces, AdapterRecord& first);

} // namespace qoramark::platform
