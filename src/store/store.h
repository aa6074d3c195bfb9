#pragma once

#include <cstdint>

#include "platform/registry.h"

// The POSIX build's registry: a key tree with typed values in one SQLite
// database per root, answering with the statuses the Windows registry gives.
namespace qoramark::store {

using platform::RegistryKey;

// A key opened by openKey; valid until closeKey.
struct OpenKey;

// Creates the key and any missing keys above it below a root (currentUserRoot
// or localMachineRoot), or opens it.
std::int32_t openKey(RegistryKey root, const char* subKey, OpenKey*& key);

// As RegQueryValueExA: with no data, a probe of the type and byte count.
std::int32_t queryValue(OpenKey& key, const char* valueName, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* byteCount);

std::int32_t setValue(OpenKey& key, const char* valueName, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t byteCount);

std::int32_t deleteValue(OpenKey& key, const char* valueName);

// Releases the key; gives the status of keeping what was written through it.
std::int32_t closeKey(OpenKey* key);

} // namespace qoramark::store
