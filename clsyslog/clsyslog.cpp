#include "clsyslog.h"

#include <chrono>

#include "syslog_message.h"
#include "transport.h"

namespace {

// One send, name look-up included, holds the caller no longer than this, whether the host
// or its name servers do not answer.
constexpr std::chrono::seconds sendTimeLimit{5};

bool isValidFacility(int facility) {
    return facility >= 0 && facility <= 23;
}

bool isValidSeverity(int severity) {
    return severity >= 0 && severity <= 7;
}

} // namespace

extern "C" {

CLSYSLOG_API int CLSYSLOG_CALL SlInitialize(void) {
    return clsyslog::startNetworking();
}

CLSYSLOG_API int CLSYSLOG_CALL SlSendMessageA(const char* host, int facility, int severity,
                                              const char* text) {
    const clsyslog::Clock::time_point deadline = clsyslog::Clock::now() + sendTimeLimit;
    if (host == nullptr || text == nullptr || !isValidFacility(facility) ||
        !isValidSeverity(severity)) {
        return 1;
    }
    clsyslog::Destination destination;
    if (!clsyslog::parseDestination(host, destination)) {
        return 1;
    }
    const std::string message = clsyslog::formatSyslogMessage(
        facility, severity, clsyslog::currentUtcMoment(), clsyslog::currentOrigin(), text);
    const bool sent =
        destination.stream
            ? clsyslog::sendOnStream(destination, clsyslog::frameForStream(message), deadline)
            : clsyslog::sendDatagram(destination, message, deadline);
    return sent ? 0 : 1;
}

CLSYSLOG_API int CLSYSLOG_CALL SlUninitialize(void) {
    clsyslog::stopNetworking();
    return 0;
}

} // extern "C"
