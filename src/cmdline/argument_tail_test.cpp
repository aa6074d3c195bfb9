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

struct ProgramNameCase {
    const char* commandLine;
    const char* tail;
};

class ProgramNameCut : public testing::TestWithParam<ProgramNameCase> {};

TEST_P(ProgramNameCut, LeavesTheTailUnchanged) {
    EXPECT_EQ(commandLineTailAfterProgramName(GetParam().commandLine), GetParam().tail)
        << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProgramNameCut,
    testing::Values(ProgramNameCase{"", ""}, ProgramNameCase{"qoramark.exe", ""},
                    ProgramNameCase{"qoramark.exe HKLM App 1.0", "HKLM App 1.0"},
                    ProgramNameCase{R"("C:\x y\qoramark.exe" HKLM App)", "HKLM App"},
                    // The closing quote ends the name even with no blank after it.
                    ProgramNameCase{R"("C:\x y\q.exe"HKCU App)", "HKCU App"},
                    // Outside a leading quote, quotes do not hold the name together.
                    ProgramNameCase{R"(C:\a"b c"\q.exe App)", R"(c"\q.exe App)"},
                    ProgramNameCase{"q.exe\t\x01\x1f -l  x  ", "-l  x  "},
                    ProgramNameCase{R"("unterminated name)", ""},
                    ProgramNameCase{R"("" App)", "App"},
                    // Bytes from 0x80 up belong to the name, not to the blanks after it.
                    ProgramNameCase{"q\xA0x.exe \xA0rest", "\xA0rest"},
                    ProgramNameCase{"q.exe \"quoted tail\" x", "\"quoted tail\" x"}));

} // namespace
} // namespace qoramark
