#pragma once

#include <chrono>
#include <string>

#include "syslog_message.h"

namespace clsyslog {

using Clock = std::chrono::steady_clock;

// 0 when the network is ready for use (Winsock started on Windows).
int startNetworking();
void stopNetworking();

// Sends the message as one datagram to the first address of the destination that takes it.
bool sendDatagram(const Destination& destination, const std::string& message);

// Connects to the destination's addresses in order and sends the bytes on the first connection
// that opens; gives up at the deadline.
bool sendOnStream(const Destination& destination, const std::string& bytes,
                  Clock::time_point deadline);

UtcMoment currentUtcMoment();
Origin currentOrigin();

} // namespace clsyslog
