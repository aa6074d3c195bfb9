#include "platform/syslog_library.h"

#include "clsyslog.h"
#include "platform/syslog_module.h"

namespace qoramark::platform {

namespace {

constexpr int notBound = -1;

struct SyslogLibrary {
    SlInitializeFunction initialize = nullptr;
    SlSendMessageAFunction sendMessage = nullptr;
    SlUninitializeFunction uninitialize = nullptr;
};

// The module hands out untyped addresses; the library's header gives each
// operation's true type.
template <typename Function> Function lookUp(void* module, const char* name) {
    return reinterpret_cast<Function>(findModuleFunction(module, name));
}

SyslogLibrary bindLibrary() {
    SyslogLibrary library;
    void* module = openSyslogModule();
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
