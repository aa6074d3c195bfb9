// The POSIX transport's look-up and origin, without a network: names come from /etc/hosts.
#include "transport.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>

namespace clsyslog {
namespace {

using namespace std::chrono_literals;

Destination destinationOf(const std::string& name) {
    return Destination{false, name, "514"};
}

std::set<int> familiesOf(const AddressList& addresses) {
    std::set<int> families;
    for (const addrinfo* address = addresses.first(); address != nullptr;
         address = address->ai_next) {
        families.insert(address->ai_family);
    }
    return families;
}

TEST(ResolveBefore, LiteralAddressesNeedNoTimeLeft) {
    const Clock::time_point passed = Clock::now() - 1s;
    EXPECT_EQ(familiesOf(resolveBefore(destinationOf("127.0.0.1"), SOCK_DGRAM, passed)),
              std::set<int>{AF_INET});
    EXPECT_EQ(familiesOf(resolveBefore(destinationOf("::1"), SOCK_STREAM, passed)),
              std::set<int>{AF_INET6});
}

TEST(ResolveBefore, NamesAreLookedUpOnlyWhileTimeIsLeft) {
    const AddressList found =
        resolveBefore(destinationOf("localhost"), SOCK_STREAM, Clock::now() + 5s);
    ASSERT_NE(found.first(), nullptr);
    EXPECT_EQ(found.first()->ai_socktype, SOCK_STREAM);

    const Clock::time_point passed = Clock::now() - 1s;
    EXPECT_EQ(resolveBefore(destinationOf("localhost"), SOCK_STREAM, passed).first(), nullptr);
}

// Look-ups given up at once end later on the resolver's thread; under the sanitizers a
// request block freed too early or a result written into freed memory shows here.
TEST(ResolveBefore, LookUpsGivenUpAtTheDeadlineLeaveNothingThatFailsLater) {
    // Deadlines of a few to 150 microseconds catch the look-up before its
    // thread starts, while it runs, and as it ends.
    for (int round = 1; round <= 50; ++round) {
        resolveBefore(destinationOf("localhost"), SOCK_DGRAM, Clock::now() + round * 3us);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_NE(resolveBefore(destinationOf("localhost"), SOCK_DGRAM, Clock::now() + 5s).first(),
              nullptr);
}

// gethostname fails on a buffer without room for the terminator, so a name of the longest
// length Linux allows is where a short buffer shows. Changing it needs a UTS namespace of
// its own (root), in a child process.
TEST(CurrentOrigin, CarriesAHostNameOfFullLength) {
    const std::string longest = "h" + std::string(HOST_NAME_MAX - 2, 'n') + "z";
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(HOST_NAME_MAX));
    constexpr int cannotRename = 77;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWUTS) != 0 || sethostname(longest.data(), longest.size()) != 0) {
            _exit(cannotRename);
        }
        _exit(currentOrigin().hostName == longest ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == cannotRename) {
        GTEST_SKIP() << "renaming the host needs root and a UTS namespace of its own";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the host name came out short";
}

} // namespace
} // namespace clsyslog
