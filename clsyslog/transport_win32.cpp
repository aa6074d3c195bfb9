#include "transport.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstring>

namespace clsyslog {

namespace {

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

// A name look-up on a thread of its own, shared by that thread and the caller. Whichever
// lets go last frees it, so a caller that stopped waiting leaves nothing the thread could
// still touch.
struct PendingLookUp {
    std::string name;
    std::string port;
    addrinfo hints{};
    addrinfo* result = nullptr;
    HANDLE done = nullptr;
    LONG holders = 2;
};

void letGo(PendingLookUp* lookUp) {
    if (InterlockedDecrement(&lookUp->holders) != 0) {
        return;
    }
    if (lookUp->result != nullptr) {
        freeaddrinfo(lookUp->result);
    }
    CloseHandle(lookUp->done);
    delete lookUp;
}

// The thread holds a Winsock reference of its own, taken for it before it starts, so the
// caller's WSACleanup cannot end Winsock under a look-up that still runs.
DWORD WINAPI lookUpOnThread(void* parameter) {
    auto* lookUp = static_cast<PendingLookUp*>(parameter);
    addrinfo* result = nullptr;
    if (getaddrinfo(lookUp->name.c_str(), lookUp->port.c_str(), &lookUp->hints, &result) == 0) {
        lookUp->result = result;
    }
    SetEvent(lookUp->done);
    letGo(lookUp);
    WSACleanup();
    return 0;
}

// A thread that may outlive the call runs code of this library, so the library stays loaded
// for the life of the process, whatever FreeLibrary its caller does.
bool keepLibraryLoaded() {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                  GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCSTR>(&lookUpOnThread), &module) != 0;
}

bool startLookUpThread(PendingLookUp* lookUp) {
    WSADATA data;
    if (!keepLibraryLoaded() || WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, lookUpOnThread, lookUp, 0, nullptr);
    if (thread == nullptr) {
        WSACleanup();
        return false;
    }
    CloseHandle(thread);
    return true;
}

DWORD millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// getaddrinfo waits for the name servers as long as the system lets it, so the look-up runs
// on a thread of its own and the call waits for it only until the deadline.
AddressList lookUpBefore(const Destination& destination, int socketType,
                         Clock::time_point deadline) {
    if (Clock::now() >= deadline) {
        return {};
    }
    auto* lookUp = new PendingLookUp{destination.name, destination.port, hintsFor(socketType, 0)};
    lookUp->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (lookUp->done == nullptr) {
        delete lookUp;
        return {};
    }
    if (!startLookUpThread(lookUp)) {
        lookUp->holders = 1;
        letGo(lookUp);
        return {};
    }
    addrinfo* found = nullptr;
    if (WaitForSingleObject(lookUp->done, millisecondsLeft(deadline)) == WAIT_OBJECT_0) {
        found = lookUp->result;
        lookUp->result = nullptr;
    }
    letGo(lookUp);
    return AddressList(found);
}

} // namespace

AddressList resolveBefore(const Destination& destination, int socketType,
                          Clock::time_point deadline) {
    // A literal address needs no resolver and no thread; most runs name their host this way.
    const addrinfo literal = hintsFor(socketType, AI_NUMERICHOST);
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

bool sendDatagram(const Destination& destination, const std::string& message,
                  Clock::time_point deadline) {
    return tryEachAddress(
        destination, SOCK_DGRAM, deadline, [&](SOCKET socket, const addrinfo& address) {
            const int count = sendto(socket, message.data(), static_cast<int>(message.size()), 0,
                                     address.ai_addr, static_cast<int>(address.ai_addrlen));
            return count == static_cast<int>(message.size());
        });
}

bool sendOnStream(const Destination& destination, const std::string& bytes,
                  Clock::time_point deadline) {
    return tryEachAddress(destination, SOCK_STREAM, deadline,
                          [&](SOCKET socket, const addrinfo& address) {
                              return connectBefore(socket, address, deadline) &&
                                     sendAllBefore(socket, bytes, deadline);
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
    // Winsock wants room for the name and its terminator, and 256 bytes always suffice.
    char name[256] = {};
    if (gethostname(name, sizeof name) == 0) {
        origin.hostName.assign(name, strnlen(name, sizeof name));
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
