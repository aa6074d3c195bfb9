#include "syslog_message.h"

#include <gtest/gtest.h>

namespace clsyslog {
namespace {

struct DestinationCase {
    const char* host;
    bool valid;
    bool stream;
    const char* name;
    const char* port;
};

void PrintTo(const DestinationCase& c, std::ostream* out) {
    *out << '"' << c.host << '"';
}

class DestinationParsing : public testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationParsing, SplitsTransportNameAndPort) {
    const DestinationCase& c = GetParam();
    Destination destination;
    ASSERT_EQ(parseDestination(c.host, destination), c.valid);
    if (c.valid) {
        EXPECT_EQ(destination.stream, c.stream);
        EXPECT_EQ(destination.name, c.name);
        EXPECT_EQ(destination.port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, DestinationParsing,
    testing::Values(DestinationCase{"loghost", true, false, "loghost", "514"},
                    DestinationCase{"loghost:1514", true, false, "loghost", "1514"},
                    DestinationCase{"192.0.2.7", true, false, "192.0.2.7", "514"},
                    DestinationCase{"udp://loghost:9", true, false, "loghost", "9"},
                    DestinationCase{"tcp://loghost", true, true, "loghost", "514"},
                    DestinationCase{"tcp://127.0.0.1:6514", true, true, "127.0.0.1", "6514"},
                    DestinationCase{"::1", true, false, "::1", "514"},
                    DestinationCase{"fe80::1:2", true, false, "fe80::1:2", "514"},
                    DestinationCase{"[::1]", true, false, "::1", "514"},
                    DestinationCase{"[::1]:1514", true, false, "::1", "1514"},
                    DestinationCase{"tcp://[2001:db8::5]:65535", true, true, "2001:db8::5",
                                    "65535"},
                    DestinationCase{"", false, false, "", ""},
                    DestinationCase{"tcp://", false, false, "", ""},
                    DestinationCase{":514", false, false, "", ""},
                    DestinationCase{"loghost:", false, false, "", ""},
                    DestinationCase{"loghost:0", false, false, "", ""},
                    DestinationCase{"loghost:65536", false, false, "", ""},
                    DestinationCase{"loghost:51x", false, false, "", ""},
                    DestinationCase{"[::1", false, false, "", ""},
                    DestinationCase{"[::1]x", false, false, "", ""},
                    DestinationCase{"[]:514", false, false, "", ""}));

const UtcMoment moment{2003, 3, 5, 14, 7, 9, 42};

TEST(SyslogMessage, HeaderThenText) {
    const Origin origin{"pc17", "qoramark", 4711};
    EXPECT_EQ(formatSyslogMessage(16, 6, moment, origin, "\"SWV\",\"a b\""),
              "<134>1 2003-03-05T14:07:09.042Z pc17 qoramark 4711 - - \"SWV\",\"a b\"");
    EXPECT_EQ(formatSyslogMessage(0, 0, moment, origin, "").substr(0, 7), "<0>1 20");
    EXPECT_EQ(formatSyslogMessage(23, 7, moment, origin, "").substr(0, 9), "<191>1 20");
}

TEST(SyslogMessage, HeaderFieldsStayOneWordEach) {
    const Origin origin{"", std::string(60, 'a') + " x", 1};
    EXPECT_EQ(formatSyslogMessage(1, 5, moment, origin, "m"),
              "<13>1 2003-03-05T14:07:09.042Z - " + std::string(48, 'a') + " 1 - - m");
    const Origin spaced{"my host", "my app", 2};
    EXPECT_EQ(formatSyslogMessage(1, 5, moment, spaced, "m"),
              "<13>1 2003-03-05T14:07:09.042Z my_host my_app 2 - - m");
}

TEST(SyslogMessage, StreamFrameCountsOctets) {
    EXPECT_EQ(frameForStream("<134>1 x"), "8 <134>1 x");
    EXPECT_EQ(frameForStream(""), "0 ");
}

} // namespace
} // namespace clsyslog
