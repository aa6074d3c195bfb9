#include "store/store_location.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace qoramark::store {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string homeFolder() {
    std::string home = environmentText("HOME");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid());
            entry != nullptr && entry->pw_dir != nullptr) {
            home = entry->pw_dir;
        }
    }
    return home;
}

} // namespace

std::string storeFolder(platform::RegistryKey root) {
    if (std::string folder = environmentText("QORAMARK_REGISTRY_DIR"); !folder.empty()) {
        return folder;
    }
    if (root == platform::localMachineRoot) {
        return "/var/lib/qoramark";
    }
    std::string dataHome = environmentText("XDG_DATA_HOME");
    if (dataHome.empty()) {
        const std::string home = homeFolder();
        if (home.empty()) {
            return "";
        }
        dataHome = home + "/.local/share";
    }
    return dataHome + "/qoramark";
}

std::string storePath(platform::RegistryKey root) {
    return storeFolder(root) + (root == platform::localMachineRoot ? "/HKLM.db" : "/HKCU.db");
}

} // namespace qoramark::store
