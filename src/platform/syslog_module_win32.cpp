#include "platform/syslog_module.h"

#include <string>

#include <windows.h>

namespace qoramark::platform {

namespace {

constexpr const char* libraryName = "clsyslog.dll";

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

} // namespace

// Full paths only: a bare name would also be looked for in the current folder and along PATH,
// where anybody could have put a library of that name.
void* openSyslogModule() {
    for (const std::string& folder : {programFolder(), systemFolder()}) {
        if (folder.empty()) {
            continue;
        }
        if (HMODULE module = LoadLibraryA((folder + libraryName).c_str())) {
            return reinterpret_cast<void*>(module);
        }
    }
    return nullptr;
}

void* findModuleFunction(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

} // namespace qoramark::platform
