#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"
#include "run/records.h"

namespace qoramark {

// Creates or opens the key below the root with the arguments both registry
// phases use: class "", non-volatile, all access, no security attributes and
// no disposition.
inline std::int32_t createOrOpenKey(RootKey rootKey, const std::string& path,
                                    platform::RegistryKey& key) {
    return platform::createRegistryKey(static_cast<platform::RegistryKey>(rootKey), path.c_str(), 0,
                                       "", platform::regOptionNonVolatile, platform::keyAllAccess,
                                       nullptr, &key, nullptr);
}

} // namespace qoramark
