#pragma once

namespace qoramark::platform {

// The syslog client library's three operations. The library is bound on the first call of
// initializeSyslogLibrary, from the program's own folder first; when the library or one of
// its operations cannot be found, that call returns nonzero like a failed SlInitialize.
// The other two may only follow an initializeSyslogLibrary that returned 0.
int initializeSyslogLibrary();
int sendSyslogMessage(const char* host, int facility, int severity, const char* text);
int uninitializeSyslogLibrary();

} // namespace qoramark::platform
