#include "report/syslog_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qoramark {
namespace {

struct RecordCase {
    const char* name;
    RunSettings settings;
    RunFacts facts;
    const char* record;
};

void PrintTo(const RecordCase& c, std::ostream* out) {
    *out << c.name;
}

RunSettings settingsFor(const char* appName, const char* appVersion, const char* setupVersion) {
    RunSettings settings;
    settings.appName = appName;
    settings.appVersion = appVersion;
    settings.setupVersion = setupVersion;
    settings.sendSyslog = true;
    return settings;
}

RunFacts factsFor(std::int32_t setupTime, const char* setupDateString) {
    RunFacts facts;
    facts.macAddress = "00-0C-29-3A-4B-5C";
    facts.ipAddress = "192.168.1.17";
    facts.runTime = 1046873229;
    facts.runDateString = "05.03.2003 14:07:09";
    facts.setupTime = setupTime;
    facts.setupDateString = setupDateString;
    facts.samName = "jdoe";
    facts.ndsName = ".jdoe.sales";
    facts.runCount = 5;
    return facts;
}

class SyslogRecord : public testing::TestWithParam<RecordCase> {};

TEST_P(SyslogRecord, FormsTheTwelveFields) {
    const RecordCase& c = GetParam();
    SyslogBuffer record;
    record.fill('x');
    formatSyslogRecord(c.settings, c.facts, record);
    EXPECT_STREQ(record.data(), c.record);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SyslogRecord,
    testing::Values(
        RecordCase{"full", settingsFor("Editor", "2.1.0.de", "7"),
                   factsFor(1046509200, "01.03.2003 09:00:00"),
                   R"("SWV","00-0C-29-3A-4B-5C","192.168.1.17","Editor","2.1.0.de",1046873229,)"
                   R"("05.03.2003 14:07:09",1046509200,"01.03.2003 09:00:00","7","n/a","n/a")"},
        RecordCase{"without -s and -v", settingsFor("Editor", "2.1.0.de", ""), factsFor(0, ""),
                   R"("SWV","00-0C-29-3A-4B-5C","192.168.1.17","Editor","2.1.0.de",1046873229,)"
                   R"("05.03.2003 14:07:09",0,"","","n/a","n/a")"},
        RecordCase{"setup moment out of range", settingsFor("Editor", "1", "7"),
                   factsFor(-1, "01.01.1601 00:00:00"),
                   R"("SWV","00-0C-29-3A-4B-5C","192.168.1.17","Editor","1",1046873229,)"
                   R"("05.03.2003 14:07:09",-1,"01.01.1601 00:00:00","7","n/a","n/a")"},
        RecordCase{"commas and quotes go through", settingsFor("A,\"B\"", "1,0", "\""),
                   factsFor(0, ""),
                   R"("SWV","00-0C-29-3A-4B-5C","192.168.1.17","A,"B"","1,0",1046873229,)"
                   R"("05.03.2003 14:07:09",0,"",""","n/a","n/a")"},
        RecordCase{"nothing known", settingsFor("", "", ""), RunFacts{},
                   R"("SWV","","","","",0,"",0,"","","n/a","n/a")"}));

TEST(SyslogRecordLimit, LongRecordIsCutTo1023Characters) {
    const std::string longName(5000, 'N');
    SyslogBuffer record;
    formatSyslogRecord(settingsFor(longName.c_str(), "1", "7"), factsFor(0, ""), record);
    EXPECT_EQ(std::strlen(record.data()), 1023u);
    const std::string expectedStart = R"("SWV","00-0C-29-3A-4B-5C","192.168.1.17",")";
    EXPECT_EQ(std::string(record.data(), expectedStart.size()), expectedStart);
    EXPECT_EQ(record[1022], 'N');
}

} // namespace
} // namespace qoramark
