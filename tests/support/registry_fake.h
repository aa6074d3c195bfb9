#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

// An in-memory registry that stands in for the platform's in unit tests: it
// keeps keys and values as the registry does (names matched without regard
// to ASCII case), records every call with its arguments, and fails the calls
// a test asks it to fail.
namespace qoramark::platform::fake {

struct Value {
    std::string name;
    std::uint32_t type = 0;
    std::string data;
};

// Starts over: no keys, no recorded calls, no failures.
void reset();

// The calls made since the last reset, one line each, such as
//   create HKLM "Software\QORA" 0 "" 0 0xf003f null null
//   query "RunCount" null 4
//   set "RunCount" 4 4 2a000000
//   delete "UWN"
//   close
std::vector<std::string> calls();

// The most keys that were open at one time since the last reset.
int mostOpenKeys();

void putValue(RegistryKey root, const std::string& keyPath, const std::string& name,
              std::uint32_t type, const std::string& data);
bool hasKey(RegistryKey root, const std::string& keyPath);
// The stored value, or a value with type 0 and no name when there is none.
Value value(RegistryKey root, const std::string& keyPath, const std::string& name);

// Later calls of that kind give the status instead of doing their work.
void failCreate(const std::string& keyPath, std::int32_t status);
void failSet(const std::string& valueName, std::int32_t status);
void failRead(const std::string& valueName, std::int32_t status); // queries with a buffer
// Closing that key gives the status, as when its writes cannot be kept.
void failClose(RegistryKey root, const std::string& keyPath, std::int32_t status);

} // namespace qoramark::platform::fake
