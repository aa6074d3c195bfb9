#include "transport.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace clsyslog {

namespace {

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

AddressList::~AddressList() {
    if (head_ != nullptr) {
        freeaddrinfo(head_);
    }
}

namespace {

addrinfo hintsFor(int socketType, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_flags = flags;
    return hints;
}

// A name look-up handed to the C library's resolver thread. The request block and the texts
// it points to must stay valid until that thread is done with them, which may be long after
// the caller stopped waiting. Nothing of this library runs on that thread (no notification),
// so the library may even be unloaded meanwhile.
struct PendingLookUp {
    std::string name;
    std::string port;
    addrinfo hints{};
    gaicb request{};
    PendingLookUp* nextAbandoned = nullptr;
};

// Look-ups given up while still running stay here for the life of the process, since the
// resolver may still write their results; a leak checker sees them held.
std::atomic<PendingLookUp*> abandonedLookUps{nullptr};

void abandon(PendingLookUp* lookUp) {
    // One that has not started yet is taken off the resolver's queue and can go at once.
    if (gai_cancel(&lookUp->request) == EAI_CANCELED) {
        delete lookUp;
        return;
    }
    lookUp->nextAbandoned = abandonedLookUps.load();
    while (!abandonedLookUps.compare_exchange_weak(lookUp->nextAbandoned, lookUp)) {
    }
}

// False when the look-up is still running at the deadline. The wait polls, with pauses that
// grow from 50 us to 10 ms, rather than sleeping in gai_suspend: glibc's resolver thread sets
// a request's status before it takes the lock under which gai_suspend unlinks its waiter,
// so a gai_suspend that times out just as the look-up ends leaves its stack-held waiter
// linked, and the resolver thread then walks freed stack and spins or crashes.
bool waitForLookUp(gaicb& request, Clock::time_point deadline) {
    Clock::duration pause = std::chrono::microseconds(50);
    while (gai_error(&request) == EAI_INPROGRESS) {
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        std::this_thread::sleep_for(std::min(pause, left));
        pause = std::min<Clock::duration>(pause * 2, std::chrono::milliseconds(10));
    }
    return true;
}

// getaddrinfo waits for the name servers as long as resolv.conf lets it (seconds per server,
// attempt and search domain), so the look-up runs on the resolver's own thread and the call
// waits for it only until the deadline.
AddressList lookUpBefore(const Destination& destination, int socketType,
                         Clock::time_point deadline) {
    if (Clock::now() >= deadline) {
        return {};
    }
    auto* lookUp =
        new PendingLookUp{destination.name, destination.port, hintsFor(socketType, AI_NUMERICSERV)};
    lookUp->request.ar_name = lookUp->name.c_str();
    lookUp->request.ar_service = lookUp->port.c_str();
    lookUp->request.ar_request = &lookUp->hints;
    gaicb* list[] = {&lookUp->request};
    sigevent noNotification{};
    noNotification.sigev_notify = SIGEV_NONE;
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, &noNotification) != 0) {
        delete lookUp;
        return {};
    }
    if (!waitForLookUp(lookUp->request, deadline)) {
        abandon(lookUp);
        return {};
    }
    AddressList addresses(lookUp->request.ar_result);
    const bool found = gai_error(&lookUp->request) == 0;
    delete lookUp;
    return found ? std::move(addresses) : AddressList();
}

} // namespace

AddressList resolveBefore(const Destination& destination, int socketType,
                          Clock::time_point deadline) {
    // A literal address needs no resolver and no thread; most runs name their host this way.
    const addrinfo literal = hintsFor(socketType, AI_NUMERICSERV | AI_NUMERICHOST);
    addrinfo* head = nullptr;
    if (getaddrinfo(destination.name.c_str(), destination.port.c_str(), &literal, &head) == 0) {
        return AddressList(head);
    }
    return lookUpBefore(destination, socketType, deadline);
}

namespace {

// Tries the destination's addresses in order, each on a socket of its own,
// until attempt succeeds on one.
template <typename Attempt>
bool tryEachAddress(const Destination& destination, int socketType, Clock::time_point deadline,
                    Attempt attempt) {
    const AddressList addresses = resolveBefore(destination, socketType, deadline);
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

bool sendDatagram(const Destination& destination, const std::string& message,
                  Clock::time_point deadline) {
    return tryEachAddress(
        destination, SOCK_DGRAM, deadline, [&](int socket, const addrinfo& address) {
            const ssize_t count = sendto(socket, message.data(), message.size(), MSG_NOSIGNAL,
                                         address.ai_addr, address.ai_addrlen);
            return count == static_cast<ssize_t>(message.size());
        });
}

bool sendOnStream(const Destination& destination, const std::string& bytes,
                  Clock::time_point deadline) {
    return tryEachAddress(destination, SOCK_STREAM, deadline,
                          [&](int socket, const addrinfo& address) {
                              return connectBefore(socket, address, deadline) &&
                                     sendAllBefore(socket, bytes, deadline);
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
    // Room for the longest name and its terminator: gethostname fails on a name that does
    // not fit whole.
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name) == 0) {
        origin.hostName.assign(name, strnlen(name, sizeof name));
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
