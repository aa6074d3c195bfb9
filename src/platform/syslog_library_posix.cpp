#include "platform/syslog_library.h"

#include <climits>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include "clsyslog.h"

namespace qoramark::platform {

namespace {

constexpr const char* libraryName = "libclsyslog.so";
constexpr int notBound = -1;

struct SyslogLibrary {
    SlInitializeFunction initialize = nullptr;
    SlSendMessageAFunction sendMessage = nullptr;
    SlUninitializeFunction uninitialize = nullptr;
};

std::string programFolder() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

void* openLibrary() {
    const std::string folder = programFolder();
    if (!folder.empty()) {
        if (void* module = dlopen((folder + libraryName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return module;
        }
    }
    return dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
}

SyslogLibrary bindLibrary() {
    SyslogLibrary library;
    void* module = openLibrary();
    if (module == nullptr) {
        return library;
    }
    library.initialize = reinterpret_cast<SlInitializeFunction>(dlsym(module, "SlInitialize"));
    library.sendMessage = reinterpret_cast<SlSendMessageAFunction>(dlsym(module, "SlSendMessageA"));
    library.uninitialize =
        reinterpret_cast<SlUninitializeFunction>(dlsym(module, "SlUninitialize"));
    return library;
}

const SyslogLibrary& boundLibrary() {
    static const SyslogLibrary library = bindLibrary();
    return library;
}

} // namespace

int initializeSyslogLibrary() {
    const SyslogLibrary& library = boundLibrary();
    if (library.initialize == nullptr || library.sendMessage == nullptr ||
        library.uninitialize == nullptr) {
        return notBound;
    }
    return library.initialize();
}

int sendSyslogMessage(const char* host, int facility, int severity, const char* text) {
    return boundLibrary().sendMessage(host, facility, severity, text);
}

int uninitializeSyslogLibrary() {
    return boundLibrary().uninitialize();
}

} // namespace qoramark::platform
