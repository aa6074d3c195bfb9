// The library against receivers of the test's own on the loopback interface.
#include "clsyslog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <regex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// A loopback socket bound to a port of the system's choosing.
class Receiver {
  public:
    Receiver(int family, int type) : family_(family) {
        socket_ = socket(family, type, 0);
        sockaddr_storage address{};
        socklen_t size = 0;
        if (family == AF_INET6) {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            size = sizeof v6;
        } else {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof v4;
        }
        bind(socket_, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    ~Receiver() { close(socket_); }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    void listenForStreams() { listen(socket_, 4); }

    std::string address() const {
        const std::string port = std::to_string(port_);
        return family_ == AF_INET6 ? "[::1]:" + port : "127.0.0.1:" + port;
    }

    // One datagram, or an empty text when none arrives within a few seconds.
    std::string receiveDatagram() {
        if (!readable()) {
            return {};
        }
        char buffer[65536];
        const ssize_t count = recv(socket_, buffer, sizeof buffer, 0);
        return count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : std::string();
    }

    // Everything one connection sends until it closes.
    std::string receiveStream() {
        if (!readable()) {
            return {};
        }
        const int connection = accept(socket_, nullptr, nullptr);
        std::string bytes;
        char buffer[4096];
        ssize_t count = 0;
        while ((count = recv(connection, buffer, sizeof buffer, 0)) > 0) {
            bytes.append(buffer, static_cast<std::size_t>(count));
        }
        close(connection);
        return bytes;
    }

  private:
    bool readable() {
        pollfd entry{socket_, POLLIN, 0};
        return poll(&entry, 1, 5000) == 1;
    }

    int family_;
    int socket_ = -1;
    unsigned short port_ = 0;
};

class Library : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(SlInitialize(), 0); }
    void TearDown() override { EXPECT_EQ(SlUninitialize(), 0); }
};

// <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG
const std::regex messagePattern(
    R"(<(\d+)>1 (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) (\S+) (\S+) (\d+) - - (.*))");

void expectMessage(const std::string& message, const std::string& pri, const std::string& text) {
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(message, fields, messagePattern)) << message;
    EXPECT_EQ(fields[1], pri);
    char hostName[HOST_NAME_MAX + 1] = {};
    gethostname(hostName, sizeof hostName);
    EXPECT_EQ(fields[3], hostName);
    EXPECT_EQ(fields[4], "clsyslog_test");
    EXPECT_EQ(fields[5], std::to_string(getpid()));
    EXPECT_EQ(fields[6], text);
}

TEST_F(Library, SendsOneDatagramOverUdp) {
    Receiver receiver(AF_INET, SOCK_DGRAM);
    const std::string text = "\"SWV\",\"00-11\",\"a, \"b\"\",\"n/a\"";
    ASSERT_EQ(SlSendMessageA(receiver.address().c_str(), 16, 6, text.c_str()), 0);
    expectMessage(receiver.receiveDatagram(), "134", text);

    ASSERT_EQ(SlSendMessageA(("udp://" + receiver.address()).c_str(), 0, 0, ""), 0);
    expectMessage(receiver.receiveDatagram(), "0", "");
}

TEST_F(Library, FramesByOctetCountOverTcp) {
    Receiver receiver(AF_INET, SOCK_STREAM);
    receiver.listenForStreams();
    const std::string text(3000, 'x');
    ASSERT_EQ(SlSendMessageA(("tcp://" + receiver.address()).c_str(), 23, 7, text.c_str()), 0);
    const std::string frame = receiver.receiveStream();
    const std::size_t blank = frame.find(' ');
    ASSERT_NE(blank, std::string::npos);
    const std::string message = frame.substr(blank + 1);
    EXPECT_EQ(frame.substr(0, blank), std::to_string(message.size()));
    expectMessage(message, "191", text);
}

TEST_F(Library, ReachesIpv6Loopback) {
    Receiver datagrams(AF_INET6, SOCK_DGRAM);
    ASSERT_EQ(SlSendMessageA(datagrams.address().c_str(), 16, 6, "over udp"), 0);
    expectMessage(datagrams.receiveDatagram(), "134", "over udp");

    Receiver streams(AF_INET6, SOCK_STREAM);
    streams.listenForStreams();
    ASSERT_EQ(SlSendMessageA(("tcp://" + streams.address()).c_str(), 16, 6, "over tcp"), 0);
    const std::string frame = streams.receiveStream();
    expectMessage(frame.substr(frame.find(' ') + 1), "134", "over tcp");
}

TEST_F(Library, RejectsBadArguments) {
    Receiver receiver(AF_INET, SOCK_DGRAM);
    const std::string host = receiver.address();
    EXPECT_NE(SlSendMessageA(host.c_str(), -1, 6, "m"), 0);
    EXPECT_NE(SlSendMessageA(host.c_str(), 24, 6, "m"), 0);
    EXPECT_NE(SlSendMessageA(host.c_str(), 16, -1, "m"), 0);
    EXPECT_NE(SlSendMessageA(host.c_str(), 16, 8, "m"), 0);
    EXPECT_NE(SlSendMessageA(nullptr, 16, 6, "m"), 0);
    EXPECT_NE(SlSendMessageA("", 16, 6, "m"), 0);
    EXPECT_NE(SlSendMessageA(host.c_str(), 16, 6, nullptr), 0);
    EXPECT_NE(SlSendMessageA("127.0.0.1:99999", 16, 6, "m"), 0);
    // None of them may have sent anything.
    EXPECT_EQ(SlSendMessageA(host.c_str(), 16, 6, "last"), 0);
    expectMessage(receiver.receiveDatagram(), "134", "last");
}

TEST_F(Library, UnreachableHostsFailWithinTheBound) {
    // A bound socket that does not listen refuses connections.
    Receiver closed(AF_INET, SOCK_STREAM);
    // A name with an empty label is refused before any name server is asked,
    // so the test stays on this machine.
    const std::string hosts[] = {"tcp://" + closed.address(), "tcp://nothing-here..invalid",
                                 "nothing-here..invalid"};
    for (const std::string& host : hosts) {
        const Clock::time_point start = Clock::now();
        EXPECT_NE(SlSendMessageA(host.c_str(), 16, 6, "m"), 0) << host;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(6)) << host;
    }
}

} // namespace
