#pragma once

#include <chrono>
#include <string>

#include "syslog_message.h"

struct addrinfo;

namespace clsyslog {

using Clock = std::chrono::steady_clock;

// 0 when the network is ready for use (Winsock started on Windows).
int startNetworking();
void stopNetworking();

// Owns the addresses a look-up gave, in the resolver's order; empty when it gave none.
class AddressList {
  public:
    AddressList() = default;
    explicit AddressList(addrinfo* head) : head_(head) {}
    ~AddressList();
    AddressList(AddressList&& other) noexcept : head_(other.head_) { other.head_ = nullptr; }
    AddressList& operator=(AddressList&&) = delete;
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    const addrinfo* first() const { return head_; }

  private:
    addrinfo* head_ = nullptr;
};

// The destination's addresses for the socket type (SOCK_DGRAM or SOCK_STREAM). A literal
// address is taken as it is; a name is looked up, and a look-up that has not ended by the
// deadline is abandoned and gives no addresses.
AddressList resolveBefore(const Destination& destination, int socketType,
                          Clock::time_point deadline);

// Sends the message as one datagram to the first address of the destination that takes it.
bool sendDatagram(const Destination& destination, const std::string& message,
                  Clock::time_point deadline);

// Connects to the destination's addresses in order and sends the bytes on the first connection
// that opens; gives up at the deadline.
bool sendOnStream(const Destination& destination, const std::string& bytes,
                  Clock::time_point deadline);

UtcMoment currentUtcMoment();
Origin currentOrigin();

} // namespace clsyslog
