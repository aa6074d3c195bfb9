#include "registry/version_key.h"

#include "platform/registry.h"
#include "registry/key_access.h"

namespace qoramark {

namespace {

namespace reg = platform;

std::int32_t setText(reg::RegistryKey key, const char* name, const std::string& text) {
    return reg::setRegistryValue(key, name, 0, reg::regSz,
                                 reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                 static_cast<std::uint32_t>(text.size() + 1));
}

std::int32_t setNumber(reg::RegistryKey key, const char* name, std::uint32_t number) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
        static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    return reg::setRegistryValue(key, name, 0, reg::regDword, bytes, sizeof bytes);
}

std::int32_t replaceText(reg::RegistryKey key, const char* name, const std::string& text) {
    reg::deleteRegistryValue(key, name);
    return setText(key, name, text);
}

std::int32_t replaceNumber(reg::RegistryKey key, const char* name, std::uint32_t number) {
    reg::deleteRegistryValue(key, name);
    return setNumber(key, name, number);
}

// The exit code keeps the first failure among the writes that report one, so
// a later write that succeeds cannot hide it.
void keepFirstFailure(std::int32_t& exitCode, std::int32_t status) {
    if (exitCode == reg::errorSuccess) {
        exitCode = status;
    }
}

} // namespace

std::int32_t writeVersionKey(RootKey rootKey, const std::string& versionKeyPath,
                             const RunSettings& settings, const RunFacts& facts) {
    reg::RegistryKey key = 0;
    const std::int32_t createStatus = createOrOpenKey(rootKey, versionKeyPath, key);
    if (createStatus != reg::errorSuccess) {
        return createStatus;
    }
    if (settings.writeSetupDate) {
        replaceNumber(key, "SetupDate", static_cast<std::uint32_t>(facts.setupTime));
        replaceText(key, "SetupDateString", facts.setupDateString);
    }
    if (settings.writeRunDate) {
        replaceNumber(key, "RunDate", static_cast<std::uint32_t>(facts.runTime));
        replaceText(key, "RunDateString", facts.runDateString);
    }
    std::int32_t exitCode = replaceText(key, "SetupVersion", settings.setupVersion);
    if (settings.updateRunCount) {
        keepFirstFailure(exitCode, setNumber(key, "RunCount", facts.runCount));
    }
    if (settings.writeSamName) {
        keepFirstFailure(exitCode, replaceText(key, "UWN", facts.samName));
    }
    if (settings.writeNdsName) {
        keepFirstFailure(exitCode, replaceText(key, "UNW", facts.ndsName));
    }
    // The key's writes are kept only once it is closed; when that fails, none
    // of them are, which the exit code reports like a failed kept write.
    keepFirstFailure(exitCode, reg::closeRegistryKey(key));
    return exitCode;
}

} // namespace qoramark
