#pragma once

#include <string>

#include "platform/registry.h"

// Where and how the store keeps a root: one SQLite database file per root.
namespace qoramark::store {

// Marks a database file as a qoramark store (PRAGMA application_id, the bytes "QMRG").
constexpr int storeApplicationId = 0x514D5247;

// The layout of the store's tables (PRAGMA user_version), for later migrations.
constexpr int storeSchemaVersion = 1;

// The folder and database file of a root's store: QORAMARK_REGISTRY_DIR when
// set; otherwise /var/lib/qoramark for the local machine and
// ${XDG_DATA_HOME:-$HOME/.local/share}/qoramark for the current user.
std::string storeFolder(platform::RegistryKey root);
std::string storePath(platform::RegistryKey root);

} // namespace qoramark::store
