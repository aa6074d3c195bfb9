#include "platform/adapters_posix.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <deque>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

namespace qoramark::platform {
namespace {

// A getifaddrs list built by hand: entries are linked in the order added.
class InterfaceList {
  public:
    void link(const char* name, unsigned flags, int index, std::vector<std::uint8_t> address) {
        sockaddr_ll& link = linkAddresses.emplace_back();
        link.sll_family = AF_PACKET;
        link.sll_ifindex = index;
        link.sll_halen = static_cast<unsigned char>(address.size());
        std::memcpy(link.sll_addr, address.data(), std::min(address.size(), sizeof(link.sll_addr)));
        add(name, flags, reinterpret_cast<sockaddr*>(&link));
    }

    void ipv4(const char* name, unsigned flags, const char* text) {
        sockaddr_in& address = ipv4Addresses.emplace_back();
        address.sin_family = AF_INET;
        inet_pton(AF_INET, text, &address.sin_addr);
        add(name, flags, reinterpret_cast<sockaddr*>(&address));
    }

    void ipv6(const char* name, unsigned flags, const char* text) {
        sockaddr_in6& address = ipv6Addresses.emplace_back();
        address.sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &address.sin6_addr);
        add(name, flags, reinterpret_cast<sockaddr*>(&address));
    }

    void bare(const char* name, unsigned flags) { add(name, flags, nullptr); }

    const ifaddrs* head() const { return entries.empty() ? nullptr : &entries.front(); }

  private:
    void add(const char* name, unsigned flags, sockaddr* address) {
        ifaddrs& entry = entries.emplace_back();
        entry.ifa_name = const_cast<char*>(name);
        entry.ifa_flags = flags;
        entry.ifa_addr = address;
        if (entries.size() > 1) {
            entries[entries.size() - 2].ifa_next = &entry;
        }
    }

    std::deque<ifaddrs> entries;
    std::deque<sockaddr_ll> linkAddresses;
    std::deque<sockaddr_in> ipv4Addresses;
    std::deque<sockaddr_in6> ipv6Addresses;
};

TEST(DescribeInterfaces, GathersEachInterfaceFromItsEntries) {
    InterfaceList list;
    list.link("lo", IFF_LOOPBACK, 1, {0, 0, 0, 0, 0, 0});
    list.link("eth0", 0, 2, {0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e});
    list.link("ib0", 0, 4, std::vector<std::uint8_t>(20, 0xab));
    list.ipv4("lo", IFF_LOOPBACK, "127.0.0.1");
    list.ipv6("eth0", 0, "fe80::1");
    list.ipv4("eth0", 0, "10.0.0.5");
    list.ipv4("eth0", 0, "10.0.0.6");
    list.bare("tun0", 0);

    const std::vector<NetworkInterface> interfaces = describeInterfaces(list.head());
    ASSERT_EQ(interfaces.size(), 4u);
    EXPECT_EQ(interfaces[0].name, "lo");
    EXPECT_TRUE(interfaces[0].loopback);
    EXPECT_EQ(interfaces[0].firstIpv4Address, "127.0.0.1");
    EXPECT_EQ(interfaces[1].name, "eth0");
    EXPECT_FALSE(interfaces[1].loopback);
    EXPECT_EQ(interfaces[1].index, 2u);
    EXPECT_EQ(interfaces[1].linkAddress,
              (std::vector<std::uint8_t>{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
    EXPECT_EQ(interfaces[1].firstIpv4Address, "10.0.0.5");
    EXPECT_EQ(interfaces[2].name, "ib0");
    EXPECT_EQ(interfaces[2].linkAddress.size(), 8u) << "sll_addr holds eight bytes";
    EXPECT_FALSE(interfaces[2].firstIpv4Address);
    EXPECT_EQ(interfaces[3].name, "tun0");
    EXPECT_TRUE(interfaces[3].linkAddress.empty());
}

TEST(DescribeInterfaces, LabelledAddressesBelongToTheirInterface) {
    InterfaceList list;
    list.link("eth0", IFF_UP, 2, {0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e});
    list.link("eth1", 0, 3, {0x02, 0, 0, 0, 0, 0x03});
    list.ipv4("eth0:1", IFF_UP, "192.168.7.9");
    list.ipv4("eth0", IFF_UP, "10.0.0.5");
    list.ipv4("eth1:backup", 0, "10.1.0.1");

    const std::vector<NetworkInterface> interfaces = describeInterfaces(list.head());
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].name, "eth0");
    EXPECT_EQ(interfaces[0].index, 2u);
    EXPECT_TRUE(interfaces[0].up);
    EXPECT_EQ(interfaces[0].firstIpv4Address, "192.168.7.9") << "listed first, label or not";
    EXPECT_EQ(interfaces[1].name, "eth1");
    EXPECT_FALSE(interfaces[1].up);
    EXPECT_EQ(interfaces[1].firstIpv4Address, "10.1.0.1");
}

TEST(SelectFirstAdapterRecord, LabelledOnlyAddressIsTheInterfaceAddress) {
    InterfaceList list;
    list.link("lo", IFF_UP | IFF_LOOPBACK, 1, {0, 0, 0, 0, 0, 0});
    list.link("br0", 0, 2, {0x02, 0, 0, 0, 0, 0x02});
    list.link("tap0", IFF_UP, 3, {0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee});
    list.ipv4("lo", IFF_UP | IFF_LOOPBACK, "127.0.0.1");
    list.ipv4("tap0:1", IFF_UP, "10.9.8.7");
    list.ipv4("tap0:2", IFF_UP, "10.9.8.8");
    list.ipv4("tap0:3", IFF_UP, "10.9.8.9");

    AdapterRecord first;
    ASSERT_EQ(selectFirstAdapter(describeInterfaces(list.head()), first), adapterQuerySucceeded)
        << "three labels are one adapter, not three more";
    EXPECT_EQ(first.address[1], 0xaa);
    EXPECT_EQ(first.address[5], 0xee);
    EXPECT_STREQ(first.ipAddress.data(), "10.9.8.7");
}

NetworkInterface interface(const char* name, unsigned index, bool loopback = false,
                           std::optional<std::string> ip = "10.0.0.1", bool up = true) {
    return {name, index, loopback, up, {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(index)}, ip};
}

NetworkInterface downInterface(const char* name, unsigned index) {
    return interface(name, index, false, "10.0.0.1", false);
}

struct SelectionCase {
    const char* name;
    std::vector<NetworkInterface> interfaces;
    std::uint32_t status;
    std::uint8_t lastAddressByte;
    const char* ipAddress;
};

void PrintTo(const SelectionCase& c, std::ostream* out) {
    *out << c.name;
}

class SelectFirstAdapter : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectFirstAdapter, StandsInForTheAdapterQuery) {
    AdapterRecord first;
    EXPECT_EQ(selectFirstAdapter(GetParam().interfaces, first), GetParam().status);
    if (GetParam().status == adapterQuerySucceeded) {
        EXPECT_EQ(first.address[0], 0x02);
        EXPECT_EQ(first.address[5], GetParam().lastAddressByte);
        EXPECT_EQ(first.addressLength, 6u);
        EXPECT_STREQ(first.ipAddress.data(), GetParam().ipAddress);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, SelectFirstAdapter,
    ::testing::Values(
        SelectionCase{"None", {}, noAdapterRecords, 0, ""},
        SelectionCase{"OnlyLoopback", {interface("lo", 1, true)}, noAdapterRecords, 0, ""},
        SelectionCase{"LoopbackSkipped",
                      {interface("lo", 1, true, "127.0.0.1"), interface("eth0", 2)},
                      adapterQuerySucceeded,
                      2,
                      "10.0.0.1"},
        SelectionCase{"LowestIndexFirst",
                      {interface("eth1", 5, false, "10.0.0.5"),
                       interface("eth0", 3, false, "10.0.0.3"), interface("lo", 1, true)},
                      adapterQuerySucceeded,
                      3,
                      "10.0.0.3"},
        SelectionCase{"DownInterfaceSkipped",
                      {interface("lo", 1, true), downInterface("br0", 2),
                       interface("eth0", 3, false, "10.0.0.3")},
                      adapterQuerySucceeded,
                      3,
                      "10.0.0.3"},
        SelectionCase{"OnlyDownInterfaces",
                      {interface("lo", 1, true), downInterface("ifb0", 2)},
                      noAdapterRecords,
                      0,
                      ""},
        SelectionCase{"DownInterfacesTakeNoRoom",
                      {downInterface("ifb0", 2), interface("a", 3), interface("b", 4),
                       interface("c", 5), downInterface("ifb1", 6)},
                      adapterQuerySucceeded,
                      3,
                      "10.0.0.1"},
        SelectionCase{"NoIpv4Address",
                      {interface("eth0", 2, false, std::nullopt)},
                      adapterQuerySucceeded,
                      2,
                      "0.0.0.0"},
        SelectionCase{
            "ThreeFit",
            {interface("lo", 1, true), interface("a", 2), interface("b", 3), interface("c", 4)},
            adapterQuerySucceeded,
            2,
            "10.0.0.1"},
        SelectionCase{"FourDoNotFit",
                      {interface("lo", 1, true), interface("a", 2), interface("b", 3),
                       interface("c", 4), interface("d", 5)},
                      adapterRecordsDoNotFit,
                      0,
                      ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SelectFirstAdapterRecord, KeepsEightAddressBytesAndTheTrueLength) {
    NetworkInterface long_address = interface("ib0", 2);
    long_address.linkAddress = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    AdapterRecord first;
    ASSERT_EQ(selectFirstAdapter({long_address}, first), adapterQuerySucceeded);
    EXPECT_EQ(first.address, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(first.addressLength, 10u);
}

} // namespace
} // namespace qoramark::platform
