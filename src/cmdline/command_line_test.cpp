#include "cmdline/command_line.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace qoramark {

void PrintTo(const CommandLineEntry& e, std::ostream* os) {
    *os << "(" << testing::PrintToString(e.option) << ", " << testing::PrintToString(e.value)
        << ")";
}

namespace {

using Entries = std::vector<CommandLineEntry>;

Entries entriesOf(const CommandLine& commandLine) {
    Entries result;
    for (std::uint32_t i = 0; i < commandLine.count(); ++i) {
        result.push_back(commandLine.entry(i));
    }
    return result;
}

struct TokenizerCase {
    std::string tail;
    Entries expected;
};

class TokenizerTable : public testing::TestWithParam<TokenizerCase> {};

TEST_P(TokenizerTable, SplitsTailIntoEntries) {
    const TokenizerCase& c = GetParam();
    const CommandLine commandLine(c.tail);
    EXPECT_EQ(entriesOf(commandLine), c.expected) << "tail: " << testing::PrintToString(c.tail);
}

INSTANTIATE_TEST_SUITE_P(
    Transitions, TokenizerTable,
    testing::Values(TokenizerCase{"", {}}, TokenizerCase{" \t\r\n\v\f ", {}},
                    TokenizerCase{R"(HKLM Foo 1.0 -s "C:\x y\setup.exe" -r -L host)",
                                  {{"", "HKLM"},
                                   {"", "Foo"},
                                   {"", "1.0"},
                                   {"s", R"(C:\x y\setup.exe)"},
                                   {"r", ""},
                                   {"L", "host"}}},
                    TokenizerCase{"a", {{"", "a"}}}, TokenizerCase{"-L", {{"L", ""}}},
                    TokenizerCase{"-a -b", {{"a", ""}, {"b", ""}}},
                    TokenizerCase{"x -y", {{"", "x"}, {"y", ""}}},
                    TokenizerCase{"-s file1 file2", {{"s", "file1"}, {"", "file2"}}},
                    TokenizerCase{R"(-s "x" "y")", {{"s", "x"}, {"", "y"}}},
                    TokenizerCase{R"(-s "")", {{"s", ""}}}, TokenizerCase{R"("")", {{"", ""}}},
                    TokenizerCase{R"("" "")", {{"", ""}, {"", ""}}},
                    TokenizerCase{R"(-a "" -b)", {{"a", ""}, {"b", ""}}}, TokenizerCase{"-", {}},
                    TokenizerCase{"- x", {{"", "x"}}},
                    TokenizerCase{"-s - x", {{"s", ""}, {"", "x"}}},
                    TokenizerCase{"--x", {{"-x", ""}}}, TokenizerCase{"-a-b", {{"a-b", ""}}},
                    TokenizerCase{R"(-x "-5")", {{"x", "-5"}}},
                    TokenizerCase{R"(-s"a b")", {{R"(s"a)", R"(b")"}}},
                    TokenizerCase{R"(ab"cd)", {{"", R"(ab"cd)"}}},
                    TokenizerCase{R"(x"y z")", {{"", R"(x"y)"}, {"", R"(z")"}}},
                    TokenizerCase{R"("ab"cd)", {{"", "ab"}, {"", "cd"}}},
                    TokenizerCase{R"(-s "x"y)", {{"s", "x"}, {"", "y"}}},
                    TokenizerCase{R"(-a ""x)", {{"a", ""}, {"", "x"}}},
                    TokenizerCase{R"("a\"b")", {{"", R"(a\)"}, {"", R"(b")"}}},
                    TokenizerCase{R"(-s "unterminated)", {{"s", "unterminated"}}},
                    TokenizerCase{R"(-s ")", {{"s", ""}}}, TokenizerCase{R"(a ")", {{"", "a"}}},
                    TokenizerCase{"  leading   and trailing  ",
                                  {{"", "leading"}, {"", "and"}, {"", "trailing"}}},
                    TokenizerCase{"-s\tval\n", {{"s", "val"}}},
                    TokenizerCase{"\"a\tb\"", {{"", "a\tb"}}},
                    TokenizerCase{"a\xE4"
                                  "b",
                                  {{"", "a\xE4"
                                        "b"}}},
                    TokenizerCase{"a\xA0"
                                  "b",
                                  {{"", "a\xA0"
                                        "b"}}},
                    // Bytes that a signed char would make negative are ordinary too.
                    TokenizerCase{"-\xFF \x85x", {{"\xFF", "\x85x"}}},
                    // A dash right after an option name belongs to the name, not a new option.
                    TokenizerCase{"-a- b", {{"a-", "b"}}},
                    // A dash alone between two options emits the first and opens nothing.
                    TokenizerCase{"-a - -b", {{"a", ""}, {"b", ""}}},
                    // An option that waits across several blanks still takes the next word.
                    TokenizerCase{"-v \t\n 2.0", {{"v", "2.0"}}},
                    // A quote inside an option name is stored; the option still waits.
                    TokenizerCase{R"(-a"b c)", {{R"(a"b)", "c"}}}));

TEST(CommandLine, ReadsBackEntriesAndEmptyEntryPastTheEnd) {
    const CommandLine commandLine(R"(-a "" b "" -c)");
    ASSERT_EQ(commandLine.count(), 4u);
    EXPECT_EQ(commandLine.entry(0), (CommandLineEntry{"a", ""}));
    EXPECT_EQ(commandLine.entry(1), (CommandLineEntry{"", "b"}));
    EXPECT_EQ(commandLine.entry(2), (CommandLineEntry{"", ""}));
    EXPECT_EQ(commandLine.entry(3), (CommandLineEntry{"c", ""}));
    const CommandLineEntry& pastEnd = commandLine.entry(4);
    EXPECT_EQ(&pastEnd, &commandLine.entry(5));
    EXPECT_EQ(&pastEnd, &commandLine.entry(0xFFFFFFFFu));
    EXPECT_EQ(pastEnd, (CommandLineEntry{"", ""}));
}

TEST(CommandLine, KeepsNoReferenceToItsInput) {
    std::string tail = "-s one two";
    const CommandLine commandLine(tail);
    tail.assign(tail.size(), 'X');
    EXPECT_EQ(commandLine.entry(0), (CommandLineEntry{"s", "one"}));
    EXPECT_EQ(commandLine.entry(1), (CommandLineEntry{"", "two"}));
}

TEST(CommandLine, LongestWindowsTailOfOneCharacterWordsIsAllEntries) {
    // 32,767 bytes of "a " pairs: the most entries a Windows command line holds.
    std::string tail;
    while (tail.size() + 2 <= 32767) {
        tail += "a ";
    }
    tail += "b";
    const CommandLine commandLine(tail);
    ASSERT_EQ(commandLine.count(), 16384u);
    EXPECT_EQ(commandLine.entry(16382), (CommandLineEntry{"", "a"}));
    EXPECT_EQ(commandLine.entry(16383), (CommandLineEntry{"", "b"}));
    for (std::uint32_t i = 0; i < commandLine.count(); ++i) {
        ASSERT_FALSE(commandLine.entry(i).value.empty()) << i;
    }
}

} // namespace
} // namespace qoramark
