#pragma once

#include <string>

namespace qoramark {

struct KeyPaths {
    std::string appKeyPath;
    std::string versionKeyPath;
};

KeyPaths composeKeyPaths(const std::string& appName, const std::string& appVersion);

} // namespace qoramark
