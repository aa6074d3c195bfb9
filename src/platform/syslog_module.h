#pragma once

namespace qoramark::platform {

// The syslog client library's module, loaded from the program's own folder
// first; nullptr when it cannot be found.
void* openSyslogModule();

// The address of a function the module exports by that name; nullptr when missing.
void* findModuleFunction(void* module, const char* name);

} // namespace qoramark::platform
