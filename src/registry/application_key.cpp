#include "registry/application_key.h"

#include <algorithm>

#include "platform/registry.h"
#include "registry/key_access.h"

namespace qoramark {

namespace {

namespace reg = platform;

constexpr std::uint32_t versionBufferSize = 128;
constexpr std::uint32_t runCountSize = 4;

// The previous version key path: appKeyPath, a backslash and the stored
// currentversion up to its first zero byte; appKeyPath alone when there is none.
std::string readPreviousVersionKeyPath(reg::RegistryKey appKey, const std::string& appKeyPath) {
    std::uint32_t byteCount = versionBufferSize;
    if (reg::queryRegistryValue(appKey, "currentversion", nullptr, nullptr, nullptr, &byteCount) !=
            reg::errorSuccess ||
        byteCount > versionBufferSize) {
        return appKeyPath;
    }
    std::uint8_t buffer[versionBufferSize] = {};
    if (reg::queryRegistryValue(appKey, "currentversion", nullptr, nullptr, buffer, &byteCount) !=
        reg::errorSuccess) {
        return appKeyPath;
    }
    const std::uint32_t shown = std::min(byteCount, versionBufferSize);
    const auto* text = reinterpret_cast<const char*>(buffer);
    const auto* end = std::find(text, text + shown, '\0');
    return appKeyPath + "\\" + std::string(text, end);
}

void replaceCurrentVersion(reg::RegistryKey appKey, const std::string& appVersion) {
    reg::deleteRegistryValue(appKey, "currentversion");
    reg::setRegistryValue(appKey, "currentversion", 0, reg::regSz,
                          reinterpret_cast<const std::uint8_t*>(appVersion.c_str()),
                          static_cast<std::uint32_t>(appVersion.size() + 1));
}

// The stored RunCount when it is exactly 4 bytes long, whatever its type, as a
// little-endian number; 0 otherwise. The read's own status is not looked at:
// the buffer stays zero where it stores nothing.
std::uint32_t readStoredRunCount(reg::RegistryKey versionKey) {
    std::uint8_t bytes[runCountSize] = {};
    std::uint32_t byteCount = runCountSize;
    if (reg::queryRegistryValue(versionKey, "RunCount", nullptr, nullptr, nullptr, &byteCount) !=
            reg::errorSuccess ||
        byteCount != runCountSize) {
        return 0;
    }
    reg::queryRegistryValue(versionKey, "RunCount", nullptr, nullptr, bytes, &byteCount);
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

} // namespace

std::uint32_t updateApplicationKey(RootKey rootKey, const std::string& appKeyPath,
                                   const std::string& versionKeyPath,
                                   const std::string& appVersion) {
    reg::RegistryKey appKey = 0;
    if (createOrOpenKey(rootKey, appKeyPath, appKey) != reg::errorSuccess) {
        return 0;
    }
    const std::string previousVersionKeyPath = readPreviousVersionKeyPath(appKey, appKeyPath);
    replaceCurrentVersion(appKey, appVersion);
    reg::closeRegistryKey(appKey);

    if (previousVersionKeyPath != versionKeyPath) {
        return 0;
    }
    reg::RegistryKey versionKey = 0;
    if (createOrOpenKey(rootKey, previousVersionKeyPath, versionKey) != reg::errorSuccess) {
        return 0;
    }
    const std::uint32_t runCount = readStoredRunCount(versionKey) + 1;
    reg::closeRegistryKey(versionKey);
    return runCount;
}

} // namespace qoramark
