#include "platform/registry.h"

#include "store/store.h"

// The registry calls bound to the store: a key handle is the store's open key.
namespace qoramark::platform {

namespace {

constexpr std::int32_t errorInvalidHandle = 6;

bool isRoot(RegistryKey key) {
    return key == currentUserRoot || key == localMachineRoot;
}

store::OpenKey* openKeyFrom(RegistryKey key) {
    return key == 0 || isRoot(key) ? nullptr : reinterpret_cast<store::OpenKey*>(key);
}

} // namespace

std::int32_t createRegistryKey(RegistryKey root, const char* subKey, std::uint32_t reserved,
                               const char*, std::uint32_t, std::uint32_t, const SecurityAttributes*,
                               RegistryKey* key, std::uint32_t* disposition) {
    if (!isRoot(root)) {
        return errorInvalidHandle;
    }
    if (key == nullptr || reserved != 0) {
        return errorInvalidParameter;
    }
    store::OpenKey* opened = nullptr;
    const std::int32_t status = store::openKey(root, subKey, opened);
    if (status != errorSuccess) {
        return status;
    }
    *key = reinterpret_cast<RegistryKey>(opened);
    if (disposition != nullptr) {
        // Whether the key was new is not tracked; callers here never ask.
        *disposition = 0;
    }
    return errorSuccess;
}

std::int32_t queryRegistryValue(RegistryKey key, const char* valueName, std::uint32_t* reserved,
                                std::uint32_t* type, std::uint8_t* data, std::uint32_t* byteCount) {
    store::OpenKey* opened = openKeyFrom(key);
    if (opened == nullptr) {
        return errorInvalidHandle;
    }
    if (reserved != nullptr) {
        return errorInvalidParameter;
    }
    return store::queryValue(*opened, valueName, type, data, byteCount);
}

std::int32_t setRegistryValue(RegistryKey key, const char* valueName, std::uint32_t reserved,
                              std::uint32_t type, const std::uint8_t* data,
                              std::uint32_t byteCount) {
    store::OpenKey* opened = openKeyFrom(key);
    if (opened == nullptr) {
        return errorInvalidHandle;
    }
    if (reserved != 0) {
        return errorInvalidParameter;
    }
    return store::setValue(*opened, valueName, type, data, byteCount);
}

std::int32_t deleteRegistryValue(RegistryKey key, const char* valueName) {
    store::OpenKey* opened = openKeyFrom(key);
    return opened != nullptr ? store::deleteValue(*opened, valueName) : errorInvalidHandle;
}

std::int32_t closeRegistryKey(RegistryKey key) {
    if (isRoot(key)) {
        return errorSuccess;
    }
    store::OpenKey* opened = openKeyFrom(key);
    return opened != nullptr ? store::closeKey(opened) : errorInvalidHandle;
}

} // namespace qoramark::platform
