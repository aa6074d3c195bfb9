#include "transport.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

namespace clsyslog {

namespace {

class AddressList {
  public:
    AddressList(const Destination& destination, int socketType) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = socketType;
        if (getaddrinfo(destination.name.c_str(), destination.port.c_str(), &hints, &head_) != 0) {
            head_ = nullptr;
        }
    }
    ~AddressList() {
        if (head_ != nullptr) {
            freeaddrinfo(head_);
        }
    }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    const addrinfo* first() const { return head_; }

  private:
    addrinfo* head_ = nullptr;
};

timeval timeLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left < 0) {
        left = 0;
    }
    timeval value{};
    value.tv_sec = static_cast<long>(left / 1000000);
    value.tv_usec = static_cast<long>(left % 1000000);
    return value;
}

// A failed connect shows in the exception set, a finished one in the write set.
bool waitUntilWritable(SOCKET socket, Clock::time_point deadline) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit = timeLeft(deadline);
    return select(0, nullptr, &writable, &failed, &limit) > 0 && FD_ISSET(socket, &writable) &&
           !FD_ISSET(socket, &failed);
}

bool connectBefore(SOCKET socket, const addrinfo& address, Clock::time_point deadline) {
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        return false;
    }
    if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        return true;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK || !waitUntilWritable(socket, deadline)) {
        return false;
    }
    int error = 0;
    int size = sizeof error;
    return getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
           error == 0;
}

bool sendAllBefore(SOCKET socket, const std::string& bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int count =
            send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!waitUntilWritable(socket, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int startNetworking() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void stopNetworking() {
    WSACleanup();
}

namespace {

// Tries the destination's addresses in order, each on a socket of its own,
// until attempt succeeds on one.
template <typename Attempt>
bool tryEachAddress(const Destination& destination, int socketType, Attempt attempt) {
    const AddressList addresses(destination, socketType);
    for (const addrinfo* address = addresses.first(); address != nullptr;
         address = address->ai_next) {
        const SOCKET socket =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == INVALID_SOCKET) {
            continue;
        }
        const bool done = attempt(socket, *address);
        closesocket(socket);
        if (done) {
            return true;
        }
    }
    return false;
}

} // namespace

bool sendDatagram(const Destination& destination, const std::string& message) {
    return tryEachAddress(destination, SOCK_DGRAM, [&](SOCKET socket, const addrinfo& address) {
        const int count = sendto(socket, message.data(), static_cast<int>(message.size()), 0,
                                 address.ai_addr, static_cast<int>(address.ai_addrlen));
        return count == static_cast<int>(message.size());
    });
}

bool sendOnStream(const Destination& destination, const std::string& bytes,
                  Clock::time_point deadline) {
    return tryEachAddress(destination, SOCK_STREAM, [&](SOCKET socket, const addrinfo& address) {
        return connectBefore(socket, address, deadline) && sendAllBefore(socket, bytes, deadline);
    });
}

UtcMoment currentUtcMoment() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

Origin currentOrigin() {
    Origin origin;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        origin.hostName = name;
    }
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::string program(path, length);
        program = program.substr(program.find_last_of("\\/") + 1);
        // Both builds name the sender alike: qoramark, not qoramark.exe.
        const std::size_t dot = program.rfind('.');
        if (dot != std::string::npos && dot > 0 && _stricmp(program.c_str() + dot, ".exe") == 0) {
            program.erase(dot);
        }
        origin.appName = program;
    }
    origin.processId = GetCurrentProcessId();
    return origin;
}

} // namespace clsyslog
