#include "facts/network_identity.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qoramark {
namespace {

platform::AdapterRecord record(std::array<std::uint8_t, 8> address, std::uint32_t length,
                               const char* ip) {
    platform::AdapterRecord first;
    first.address = address;
    first.addressLength = length;
    std::memcpy(first.ipAddress.data(), ip, std::min(std::strlen(ip), first.ipAddress.size()));
    return first;
}

struct AdapterCase {
    const char* name;
    std::uint32_t status;
    platform::AdapterRecord first;
    const char* macAddress;
    const char* ipAddress;
};

void PrintTo(const AdapterCase& c, std::ostream* out) {
    *out << c.name;
}

class NetworkIdentity : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(NetworkIdentity, ComesFromTheFirstRecordOfASuccessfulQuery) {
    RunFacts facts;
    takeNetworkIdentity(GetParam().status, GetParam().first, facts);
    EXPECT_EQ(facts.macAddress, GetParam().macAddress);
    EXPECT_EQ(facts.ipAddress, GetParam().ipAddress);
}

const platform::AdapterRecord ethernet =
    record({0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, 6, "192.168.10.20");

INSTANTIATE_TEST_SUITE_P(
    Records, NetworkIdentity,
    ::testing::Values(
        AdapterCase{"Ethernet", 0, ethernet, "02:1A:2B:3C:4D:5E", "192.168.10.20"},
        AdapterCase{"LongAddressCutToSixBytes", 0,
                    record({0xfe, 0x80, 0x00, 0x01, 0xab, 0xcd, 0xef, 0x99}, 8, "10.0.0.1"),
                    "FE:80:00:01:AB:CD", "10.0.0.1"},
        AdapterCase{"ShortAddressStillSixBytes", 0,
                    record({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, 0, "0.0.0.0"), "11:22:33:44:55:66",
                    "0.0.0.0"},
        AdapterCase{"LongestAddressText", 0, record({}, 6, "255.255.255.255"), "00:00:00:00:00:00",
                    "255.255.255.255"},
        // A record whose text fills its 16 bytes without a terminator.
        AdapterCase{"UnterminatedAddressText", 0, record({}, 6, "1234567890123456789"),
                    "00:00:00:00:00:00", "1234567890123456"},
        AdapterCase{"RecordsDoNotFit", platform::adapterRecordsDoNotFit, ethernet, "", ""},
        AdapterCase{"NoAdapter", platform::noAdapterRecords, ethernet, "", ""},
        AdapterCase{"OtherFailure", 1, ethernet, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qoramark
