#pragma once

#include <cstdint>

namespace qoramark::platform {

// A registry key handle as the Win32 registry functions take it. The two
// predefined roots are handles with fixed values; the others come from
// createRegistryKey.
using RegistryKey = std::uintptr_t;

constexpr RegistryKey currentUserRoot = 0x80000001u;
constexpr RegistryKey localMachineRoot = 0x80000002u;

constexpr std::uint32_t regOptionNonVolatile = 0;
constexpr std::uint32_t keyAllAccess = 0xF003Fu;

constexpr std::uint32_t regSz = 1;
constexpr std::uint32_t regDword = 4;

// Win32 statuses the registry gives.
constexpr std::int32_t errorSuccess = 0;
constexpr std::int32_t errorFileNotFound = 2;
constexpr std::int32_t errorAccessDenied = 5;
constexpr std::int32_t errorInvalidParameter = 87;
constexpr std::int32_t errorMoreData = 234;
constexpr std::int32_t errorBadDb = 1009;

// Stands for the security attributes structure, which is only ever passed as null.
struct SecurityAttributes;

// The five registry operations, shaped like RegCreateKeyExA, RegQueryValueExA,
// RegSetValueExA, RegDeleteValueA and RegCloseKey: the same arguments in the
// same order, the same Win32 status as result.
std::int32_t createRegistryKey(RegistryKey root, const char* subKey, std::uint32_t reserved,
                               const char* keyClass, std::uint32_t options, std::uint32_t access,
                               const SecurityAttributes* securityAttributes, RegistryKey* key,
                               std::uint32_t* disposition);

std::int32_t queryRegistryValue(RegistryKey key, const char* valueName, std::uint32_t* reserved,
                                std::uint32_t* type, std::uint8_t* data, std::uint32_t* byteCount);

std::int32_t setRegistryValue(RegistryKey key, const char* valueName, std::uint32_t reserved,
                              std::uint32_t type, const std::uint8_t* data,
                              std::uint32_t byteCount);

std::int32_t deleteRegistryValue(RegistryKey key, const char* valueName);

std::int32_t closeRegistryKey(RegistryKey key);

} // namespace qoramark::platform
