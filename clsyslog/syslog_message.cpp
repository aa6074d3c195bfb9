#include "syslog_message.h"

#include <cstdio>

namespace clsyslog {

namespace {

constexpr const char* defaultPort = "514";
constexpr std::size_t hostNameLimit = 255;
constexpr std::size_t appNameLimit = 48;

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isValidPort(const std::string& port) {
    if (port.empty() || port.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

// Header fields may hold printable ASCII only (no blanks); anything else would shift the
// fields a receiver reads, so it is replaced. An empty field becomes the nil value "-".
std::string headerField(const std::string& value, std::size_t limit) {
    std::string field = value.substr(0, limit);
    for (char& c : field) {
        if (c < 33 || c > 126) {
            c = '_';
        }
    }
    return field.empty() ? "-" : field;
}

} // namespace

bool parseDestination(const std::string& host, Destination& destination) {
    std::string rest = host;
    destination.stream = false;
    if (startsWith(rest, "tcp://")) {
        destination.stream = true;
        rest.erase(0, 6);
    } else if (startsWith(rest, "udp://")) {
        rest.erase(0, 6);
    }
    std::string port = defaultPort;
    if (startsWith(rest, "[")) {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            return false;
        }
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                return false;
            }
            port = after.substr(1);
        }
        rest = rest.substr(1, close - 1);
    } else {
        const std::size_t colon = rest.find(':');
        // More than one colon is a bare IPv6 address, which carries no port.
        if (colon != std::string::npos && rest.find(':', colon + 1) == std::string::npos) {
            port = rest.substr(colon + 1);
            rest.erase(colon);
        }
    }
    if (rest.empty() || !isValidPort(port)) {
        return false;
    }
    destination.name = rest;
    destination.port = port;
    return true;
}

std::string formatSyslogMessage(int facility, int severity, const UtcMoment& moment,
                                const Origin& origin, const std::string& text) {
    char header[64];
    std::snprintf(header, sizeof header, "<%d>1 %04d-%02d-%02dT%02d:%02d:%02d.%03dZ ",
                  facility * 8 + severity, moment.year, moment.month, moment.day, moment.hour,
                  moment.minute, moment.second, moment.millisecond);
    return header + headerField(origin.hostName, hostNameLimit) + ' ' +
           headerField(origin.appName, appNameLimit) + ' ' + std::to_string(origin.processId) +
           " - - " + text;
}

std::string frameForStream(const std::string& message) {
    return std::to_string(message.size()) + ' ' + message;
}

} // namespace clsyslog
