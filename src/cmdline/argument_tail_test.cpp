#include "cmdline/argument_tail.h"

#include <gtest/gtest.h>
#include <vector>

#include "cmdline/command_line.h"

namespace qoramark {
namespace {

std::string tailOf(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "qoramark");
    return commandLineTailFromArguments(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ArgumentTail, JoinsArgumentsAndQuotesThoseThatWouldSplitOrVanish) {
    EXPECT_EQ(tailOf({}), "");
    EXPECT_EQ(tailOf({"HKLM", "App", "1.0", "-l"}), "HKLM App 1.0 -l");
    EXPECT_EQ(tailOf({"HKLM", "", "App"}), R"(HKLM "" App)");
    EXPECT_EQ(tailOf({"-s", "C:\\x y\\setup.exe"}), R"(-s "C:\x y\setup.exe")");
    EXPECT_EQ(tailOf({"a\tb", "c\nd"}), "\"a\tb\" \"c\nd\"");
    EXPECT_EQ(tailOf({"\xE4\xA0"}), "\xE4\xA0");
}

TEST(ArgumentTail, QuotedArgumentsComeBackAsOneEntryEach) {
    const CommandLine commandLine(tailOf({"HKLM", "", "My App", "-s", "a b"}));
    ASSERT_EQ(commandLine.count(), 4u);
    EXPECT_EQ(commandLine.entry(1).value, "");
    EXPECT_EQ(commandLine.entry(2).value, "My App");
    EXPECT_EQ(commandLine.entry(3).option, "s");
    EXPECT_EQ(commandLine.entry(3).value, "a b");
}

} // namespace
} // namespace qoramark
