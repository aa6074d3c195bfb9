#include "platform/syslog_module.h"

#include <climits>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace qoramark::platform {

namespace {

// The library's SONAME (libclsyslog.so.1), given by the build.
constexpr const char* libraryName = QORAMARK_SYSLOG_LIBRARY;

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

// A library beside the program wins, so a build tree or an unpacked copy uses its own;
// an installed program finds the system's copy by its SONAME through the dynamic
// linker's search (its cache and the system library folders).
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
