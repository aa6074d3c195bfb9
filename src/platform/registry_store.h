#pragma once

#include <string>

#include "platform/registry.h"

// Where and how the POSIX build keeps its registry: one SQLite database per
// root. Only the POSIX build and its tools use this header.
namespace qoramark::platform {

// Marks a database file as a qoramark store (PRAGMA application_id, the bytes "QMRG").
constexpr int storeApplicationId = 0x514D5247;

// The layout of the store's tables (PRAGMA user_version), for later migrations.
constexpr int storeSchemaVersion = 1;

// The folder and database file of a root's store: QORAMARK_REGISTRY_DIR when
// set; otherwise /var/lib/qoramark for the local machine and
// ${XDG_DATA_HOME:-$HOME/.local/share}/qoramark for the current user.
std::string registryStoreFolder(RegistryKey root);
std::string registryStorePath(RegistryKey root);

} // namespace qoramark::platform
