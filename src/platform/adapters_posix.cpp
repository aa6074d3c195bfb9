#include "platform/adapters_posix.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

namespace qoramark::platform {

namespace {

constexpr std::size_t adapterBufferSize = 1920;
constexpr std::size_t adapterRecordSize = 640;

// glibc lists an address that carries a label ("eth0:1") under the label. A
// label is its interface's name, a colon and a suffix, and interface names
// never hold a colon, so the part before the colon names the interface.
std::string interfaceName(const char* entryName) {
    const std::string name(entryName);
    return name.substr(0, name.find(':'));
}

NetworkInterface& interfaceNamed(std::vector<NetworkInterface>& interfaces,
                                 const std::string& name) {
    for (NetworkInterface& known : interfaces) {
        if (known.name == name) {
            return known;
        }
    }
    NetworkInterface added;
    added.name = name;
    return interfaces.emplace_back(std::move(added));
}

void addLinkAddress(NetworkInterface& interface, const sockaddr_ll& link) {
    interface.index = static_cast<unsigned>(link.sll_ifindex);
    const std::size_t length = std::min<std::size_t>(link.sll_halen, sizeof(link.sll_addr));
    interface.linkAddress.assign(link.sll_addr, link.sll_addr + length);
}

void addIpv4Address(NetworkInterface& interface, const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (!interface.firstIpv4Address &&
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text)) != nullptr) {
        interface.firstIpv4Address = text;
    }
}

void fillRecord(const NetworkInterface& interface, AdapterRecord& record) {
    record = AdapterRecord{};
    const std::size_t length = std::min(interface.linkAddress.size(), record.address.size());
    std::copy_n(interface.linkAddress.begin(), length, record.address.begin());
    record.addressLength = static_cast<std::uint32_t>(interface.linkAddress.size());
    // A Windows record without an address shows it as 0.0.0.0.
    const std::string ip = interface.firstIpv4Address.value_or("0.0.0.0");
    std::copy_n(ip.begin(), std::min(ip.size(), record.ipAddress.size() - 1),
                record.ipAddress.begin());
}

} // namespace

std::vector<NetworkInterface> describeInterfaces(const ifaddrs* entries) {
    std::vector<NetworkInterface> interfaces;
    for (const ifaddrs* entry = entries; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) {
            continue;
        }
        NetworkInterface& interface = interfaceNamed(interfaces, interfaceName(entry->ifa_name));
        interface.loopback = interface.loopback || (entry->ifa_flags & IFF_LOOPBACK) != 0;
        interface.up = interface.up || (entry->ifa_flags & IFF_UP) != 0;
        if (entry->ifa_addr == nullptr) {
            continue;
        }
        if (entry->ifa_addr->sa_family == AF_PACKET) {
            addLinkAddress(interface, *reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr));
        } else if (entry->ifa_addr->sa_family == AF_INET) {
            addIpv4Address(interface, *reinterpret_cast<const sockaddr_in*>(entry->ifa_addr));
        }
    }
    // The link-layer entry carries the index; only an interface without one
    // costs a look-up.
    for (NetworkInterface& interface : interfaces) {
        if (interface.index == 0) {
            interface.index = if_nametoindex(interface.name.c_str());
        }
    }
    return interfaces;
}

std::uint32_t selectFirstAdapter(std::vector<NetworkInterface> interfaces, AdapterRecord& first) {
    // Windows lists neither the loopback interface nor a disabled adapter.
    std::erase_if(interfaces, [](const NetworkInterface& interface) {
        return interface.loopback || !interface.up;
    });
    if (interfaces.empty()) {
        return noAdapterRecords;
    }
    if (interfaces.size() * adapterRecordSize > adapterBufferSize) {
        return adapterRecordsDoNotFit;
    }
    const auto lowestIndex = std::min_element(
        interfaces.begin(), interfaces.end(),
        [](const NetworkInterface& a, const NetworkInterface& b) { return a.index < b.index; });
    fillRecord(*lowestIndex, first);
    return adapterQuerySucceeded;
}

std::uint32_t queryFirstAdapter(AdapterRecord& first) {
    ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0) {
        return noAdapterRecords;
    }
    const std::uint32_t status = selectFirstAdapter(describeInterfaces(entries), first);
    freeifaddrs(entries);
    return status;
}

} // namespace qoramark::platform
