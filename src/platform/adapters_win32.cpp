#include "platform/adapters.h"

// winsock2.h must come before windows.h, and iphlpapi.h after both.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <algorithm>

namespace qoramark::platform {

namespace {

// Room for three records: 1920 bytes in the shipped 32-bit layout of the
// record (640 bytes); a 64-bit test build keeps the three records.
constexpr ULONG adapterBufferSize = 3 * sizeof(IP_ADAPTER_INFO);
static_assert(sizeof(void*) != 4 || adapterBufferSize == 1920, "the 32-bit record layout");

void copyFirstRecord(const IP_ADAPTER_INFO& record, AdapterRecord& first) {
    static_assert(sizeof(record.Address) == sizeof(first.address));
    static_assert(sizeof(record.IpAddressList.IpAddress.String) == sizeof(first.ipAddress));
    std::copy(std::begin(record.Address), std::end(record.Address), first.address.begin());
    first.addressLength = record.AddressLength;
    const char* ip = record.IpAddressList.IpAddress.String;
    std::copy(ip, ip + first.ipAddress.size(), first.ipAddress.begin());
}

} // namespace

std::uint32_t queryFirstAdapter(AdapterRecord& first) {
    union {
        IP_ADAPTER_INFO record;
        unsigned char bytes[adapterBufferSize];
    } buffer;
    ULONG length = adapterBufferSize;
    const DWORD status = GetAdaptersInfo(&buffer.record, &length);
    if (status == ERROR_SUCCESS) {
        copyFirstRecord(buffer.record, first);
    }
    return status;
}

} // namespace qoramark::platform
