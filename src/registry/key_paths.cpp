#include "registry/key_paths.h"

namespace qoramark {

KeyPaths composeKeyPaths(const std::string& appName, const std::string& appVersion) {
    const std::string appKeyPath = std::string("Software\\QORA\\Installed\\") + appName;
    return KeyPaths{appKeyPath, appKeyPath + "\\" + appVersion};
}

} // namespace qoramark
