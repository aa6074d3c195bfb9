#include "report/local_log.h"

#include <gtest/gtest.h>

namespace qoramark {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + '\n';
    }
    return text;
}

RunSettings editorSettings() {
    RunSettings settings;
    settings.appName = "Editor";
    settings.appVersion = "2.1.0.de";
    settings.setupVersion = "7";
    settings.localLog = true;
    return settings;
}

RunFacts editorFacts() {
    RunFacts facts;
    facts.runDateString = "05.03.2003 14:07:09";
    facts.runTime = 1046873229;
    facts.setupDateString = "01.03.2003 09:00:00";
    facts.setupTime = 1046509200;
    facts.macAddress = "00-0C-29-3A-4B-5C";
    facts.ipAddress = "192.168.1.17";
    facts.samName = "jdoe";
    facts.ndsName = ".jdoe.sales.acme";
    facts.runCount = 5;
    return facts;
}

TEST(LocalLogBlock, FullRun) {
    EXPECT_EQ(joined(formatLocalLogBlock(editorSettings(), editorFacts())),
              "05.03.2003 14:07:09----------------------------------------\n"
              "05.03.2003 14:07:09: macaddress:   00-0C-29-3A-4B-5C\n"
              "05.03.2003 14:07:09: ipaddress:    192.168.1.17\n"
              "05.03.2003 14:07:09: application:  Editor\n"
              "05.03.2003 14:07:09: appversion:   2.1.0.de\n"
              "05.03.2003 14:07:09: runcount:     5\n"
              "05.03.2003 14:07:09: rundate:      1046873229 (05.03.2003 14:07:09)\n"
              "05.03.2003 14:07:09: setupdate:    1046509200 (01.03.2003 09:00:00)\n"
              "05.03.2003 14:07:09: setupversion: 7\n"
              "05.03.2003 14:07:09: unw:          .jdoe.sales.acme\n"
              "05.03.2003 14:07:09: uwn:          jdoe\n"
              "05.03.2003 14:07:09----------------------------------------\n");
}

// No -s, no -v, no account names, no adapter: every empty text leaves its label's blanks.
TEST(LocalLogBlock, EmptyValuesKeepTheLabelBlanks) {
    RunSettings settings;
    settings.appName = "A, \"quoted\" app";
    settings.appVersion = "1";
    RunFacts facts;
    facts.runDateString = "31.12.2037 23:59:59";
    facts.runTime = 2145916799;
    facts.runCount = 4294967295u;
    EXPECT_EQ(joined(formatLocalLogBlock(settings, facts)),
              "31.12.2037 23:59:59----------------------------------------\n"
              "31.12.2037 23:59:59: macaddress:   \n"
              "31.12.2037 23:59:59: ipaddress:    \n"
              "31.12.2037 23:59:59: application:  A, \"quoted\" app\n"
              "31.12.2037 23:59:59: appversion:   1\n"
              "31.12.2037 23:59:59: runcount:     4294967295\n"
              "31.12.2037 23:59:59: rundate:      2145916799 (31.12.2037 23:59:59)\n"
              "31.12.2037 23:59:59: setupdate:    0 ()\n"
              "31.12.2037 23:59:59: setupversion: \n"
              "31.12.2037 23:59:59: unw:          \n"
              "31.12.2037 23:59:59: uwn:          \n"
              "31.12.2037 23:59:59----------------------------------------\n");
}

TEST(LocalLogBlock, UnrepresentableMomentsShowMinusOne) {
    RunFacts facts = editorFacts();
    facts.setupTime = -1;
    facts.setupDateString = "01.01.1601 00:00:00";
    facts.runTime = -1;
    const std::vector<std::string> lines = formatLocalLogBlock(editorSettings(), facts);
    EXPECT_EQ(lines[6], "05.03.2003 14:07:09: rundate:      -1 (05.03.2003 14:07:09)");
    EXPECT_EQ(lines[7], "05.03.2003 14:07:09: setupdate:    -1 (01.01.1601 00:00:00)");
}

TEST(LocalLogBlock, TwelveLinesWithValuesAtColumn36) {
    const std::vector<std::string> lines = formatLocalLogBlock(editorSettings(), editorFacts());
    ASSERT_EQ(lines.size(), 12u);
    for (std::size_t i = 1; i < 11; ++i) {
        ASSERT_GE(lines[i].size(), 35u);
        EXPECT_EQ(lines[i][34], ' ') << lines[i];
        EXPECT_NE(lines[i][35], ' ') << lines[i];
    }
    EXPECT_EQ(lines.front(), lines.back());
    EXPECT_EQ(lines.front().substr(19), std::string(40, '-'));
}

} // namespace
} // namespace qoramark
