#include "platform/syslog_library.h"

#include <string>

#include <windows.h>

#include "clsyslog.h"

namespace qoramark::platform {

namespace {

constexpr const char* libraryName = "clsyslog.dll";
constexpr int notBound = -1;

struct SyslogLibrary {
    SlInitializeFunction initialize = nullptr;
    SlSendMessageAFunction sendMessage = nullptr;
    SlUninitializeFunction uninitialize = nullptr;
};

std::string programFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    const std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1);
}

std::string systemFolder() {
    char path[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::string(path, length) + "\\";
}

// Full paths only: a bare name would also be looked for in the current folder and along PATH,
// where anybody could have put a library of that name.
HMODULE openLibrary() {
    for (const std::string& folder : {programFolder(), systemFolder()}) {
        if (folder.empty()) {
            continue;
        }
        if (HMODULE module = LoadLibraryA((folder + libraryName).c_str())) {
            return module;
        }
    }
    return nullptr;
}

// GetProcAddress hands out a generic function pointer; the library's header gives each
// operation's true type.
template <typename Function> Function lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

SyslogLibrary bindLibrary() {
    SyslogLibrary library;
    const HMODULE module = openLibrary();
    if (module == nullptr) {
        return library;
    }
    library.initialize = lookUp<SlInitializeFunction>(module, "SlInitialize");
    library.sendMessage = lookUp<SlSendMessageAFunction>(module, "SlSendMessageA");
    library.uninitialize = lookUp<SlUninitializeFunction>(module, "SlUninitialize");
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
