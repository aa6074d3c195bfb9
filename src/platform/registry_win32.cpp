#include "platform/registry.h"

#include <windows.h>

namespace qoramark::platform {

namespace {

HKEY toHkey(RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}

} // namespace

std::int32_t createRegistryKey(RegistryKey root, const char* subKey, std::uint32_t reserved,
                               const char* keyClass, std::uint32_t options, std::uint32_t access,
                               const SecurityAttributes* securityAttributes, RegistryKey* key,
                               std::uint32_t* disposition) {
    HKEY opened = nullptr;
    DWORD openedDisposition = 0;
    // The class parameter is declared writable but never written through.
    const LONG status = RegCreateKeyExA(
        toHkey(root), subKey, reserved, const_cast<LPSTR>(keyClass), options, access,
        reinterpret_cast<LPSECURITY_ATTRIBUTES>(
            const_cast<SecurityAttributes*>(securityAttributes)),
        &opened, disposition != nullptr ? &openedDisposition : nullptr);
    if (status == ERROR_SUCCESS) {
        *key = reinterpret_cast<RegistryKey>(opened);
        if (disposition != nullptr) {
            *disposition = openedDisposition;
        }
    }
    return status;
}

std::int32_t queryRegistryValue(RegistryKey key, const char* valueName, std::uint32_t* reserved,
                                std::uint32_t* type, std::uint8_t* data, std::uint32_t* byteCount) {
    static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
    return RegQueryValueExA(toHkey(key), valueName, reinterpret_cast<LPDWORD>(reserved),
                            reinterpret_cast<LPDWORD>(type), data,
                            reinterpret_cast<LPDWORD>(byteCount));
}

std::int32_t setRegistryValue(RegistryKey key, const char* valueName, std::uint32_t reserved,
                              std::uint32_t type, const std::uint8_t* data,
                              std::uint32_t byteCount) {
    return RegSetValueExA(toHkey(key), valueName, reserved, type, data, byteCount);
}

std::int32_t deleteRegistryValue(RegistryKey key, const char* valueName) {
    return RegDeleteValueA(toHkey(key), valueName);
}

std::int32_t closeRegistryKey(RegistryKey key) {
    return RegCloseKey(toHkey(key));
}

} // namespace qoramark::platform
