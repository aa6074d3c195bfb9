#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

// Reading the store back in the text form of registry export files.
namespace qoramark::store {

struct ExportPath {
    platform::RegistryKey root = platform::currentUserRoot;
    std::string rootName;
    std::string path;
};

// "HKCU\Software\QORA", "HKEY_LOCAL_MACHINE\Software", "HKLM"; false for an unknown root.
bool parseExportPath(const std::string& text, ExportPath& exportPath);

// The registry export header line.
std::string exportHeader();

// Appends the key at the path and every key below it, each as an empty line,
// a [ROOT\path] line and one line per value. Gives 0, 2 when the store or key
// does not exist, 1009 for a file that is not a store.
std::int32_t exportKeyTree(const ExportPath& exportPath, std::string& text);

} // namespace qoramark::store
