#include "transport.h"

#include <cerrno>
#include <climits>
#include <ctime>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace clsyslog {

namespace {

class AddressList {
  public:
    AddressList(const Destination& destination, int socketType) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = socketType;
        hints.ai_flags = AI_NUMERICSERV;
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

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool waitUntilWritable(int socket, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{socket, POLLOUT, 0};
        const int ready = poll(&entry, 1, millisecondsLeft(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool connectBefore(int socket, const addrinfo& address, Clock::time_point deadline) {
    if (fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK) != 0) {
        return false;
    }
    if (connect(socket, address.ai_addr, address.ai_addrlen) == 0) {
        return true;
    }
    if (errno != EINPROGRESS || !waitUntilWritable(socket, deadline)) {
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool sendAllBefore(int socket, const std::string& bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        // MSG_NOSIGNAL: a peer that closed early must not end the calling process.
        const ssize_t count = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitUntilWritable(socket, deadline)) {
                return false;
            }
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int startNetworking() {
    return 0;
}

void stopNetworking() {}

namespace {

// Tries the destination's addresses in order, each on a socket of its own,
// until attempt succeeds on one.
template <typename Attempt>
bool tryEachAddress(const Destination& destination, int socketType, Attempt attempt) {
    const AddressList addresses(destination, socketType);
    for (const addrinfo* address = addresses.first(); address != nullptr;
         address = address->ai_next) {
        const int socket =
            ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (socket < 0) {
            continue;
        }
        const bool done = attempt(socket, *address);
        close(socket);
        if (done) {
            return true;
        }
    }
    return false;
}

} // namespace

bool sendDatagram(const Destination& destination, const std::string& message) {
    return tryEachAddress(destination, SOCK_DGRAM, [&](int socket, const addrinfo& address) {
        const ssize_t count = sendto(socket, message.data(), message.size(), MSG_NOSIGNAL,
                                     address.ai_addr, address.ai_addrlen);
        return count == static_cast<ssize_t>(message.size());
    });
}

bool sendOnStream(const Destination& destination, const std::string& bytes,
                  Clock::time_point deadline) {
    return tryEachAddress(destination, SOCK_STREAM, [&](int socket, const addrinfo& address) {
        return connectBefore(socket, address, deadline) && sendAllBefore(socket, bytes, deadline);
    });
}

UtcMoment currentUtcMoment() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm fields{};
    gmtime_r(&now.tv_sec, &fields);
    return {fields.tm_year + 1900,
            fields.tm_mon + 1,
            fields.tm_mday,
            fields.tm_hour,
            fields.tm_min,
            fields.tm_sec,
            static_cast<int>(now.tv_nsec / 1000000)};
}

Origin currentOrigin() {
    Origin origin;
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        origin.hostName = name;
    }
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        const std::string program(path, static_cast<std::size_t>(length));
        origin.appName = program.substr(program.rfind('/') + 1);
    }
    origin.processId = static_cast<unsigned long>(getpid());
    return origin;
}

} // namespace clsyslog
