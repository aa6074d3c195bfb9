#pragma once

#include <array>
#include <cstdint>

namespace qoramark::platform {

// The fields of the platform's first adapter record that a run reads, as the
// Win32 IP_ADAPTER_INFO holds them: up to eight address bytes with their
// count, and the first IP address as zero-terminated dotted text in 16 bytes.
struct AdapterRecord {
    std::array<std::uint8_t, 8> address{};
    std::uint32_t addressLength = 0;
    std::array<char, 16> ipAddress{};
};

constexpr std::uint32_t adapterQuerySucceeded = 0;    // ERROR_SUCCESS
constexpr std::uint32_t adapterRecordsDoNotFit = 111; // ERROR_BUFFER_OVERFLOW
constexpr std::uint32_t noAdapterRecords = 232;       // ERROR_NO_DATA

// Queries the adapter records once into a 1920-byte buffer and copies the
// first record's fields; the status is the query's, and first is filled only
// when it is adapterQuerySucceeded.
std::uint32_t queryFirstAdapter(AdapterRecord& first);

} // namespace qoramark::platform
