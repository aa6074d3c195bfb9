#include "platform/syslog_module.h"

#include <climits>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace qoramark::platform {

namespace {

constexpr const char* libraryName = "libclsyslog.so";

std::string programFolder() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

} // namespace

void* openSyslogModule() {
    const std::string folder = programFolder();
    if (!folder.empty()) {
        if (void* module = dlopen((folder + libraryName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return module;
        }
    }
    return dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
}

void* findModuleFunction(void* module, const char* name) {
    return dlsym(module, name);
}

} // namespace qoramark::platform
