#pragma once

#include <string>

namespace clsyslog {

// Where a message goes: the transport, the host name or address and the port, as texts
// ready for getaddrinfo.
struct Destination {
    bool stream = false;
    std::string name;
    std::string port;
};

// A moment in UTC, broken down to milliseconds.
struct UtcMoment {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The header fields that come from the sending machine and process.
struct Origin {
    std::string hostName;
    std::string appName;
    unsigned long processId = 0;
};

// Parses "[udp://|tcp://]name[:port]", a bare IPv6 address or "[v6][:port]"; false when the
// text names no host or carries a port outside 1..65535.
bool parseDestination(const std::string& host, Destination& destination);

// "<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID - - MSG".
std::string formatSyslogMessage(int facility, int severity, const UtcMoment& moment,
                                const Origin& origin, const std::string& text);

// The octet-counting frame of a message on a stream: its length in decimal, a blank, the message.
std::string frameForStream(const std::string& message);

} // namespace clsyslog
