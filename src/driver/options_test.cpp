#include "driver/options.h"

#include <gtest/gtest.h>

namespace qoramark {
namespace {

RunSettings interpret(const std::string& tail) {
    const CommandLine commandLine(tail);
    RunSettings settings;
    interpretCommandLine(commandLine, settings);
    return settings;
}

// The settings as one comparable line, so a table row can state all of them.
std::string describe(const RunSettings& s) {
    std::string flags;
    flags += s.writeSetupDate ? 's' : '-';
    flags += s.localLog ? 'l' : '-';
    flags += s.sendSyslog ? 'L' : '-';
    flags += s.writeRunDate ? 'r' : '-';
    flags += s.updateRunCount ? 'c' : '-';
    flags += s.writeNdsName ? 'n' : '-';
    flags += s.writeSamName ? 'u' : '-';
    return "root=" + s.rootKeyName + (s.rootKey == RootKey::localMachine ? "(LM)" : "(CU)") +
           " app=" + s.appName + " ver=" + s.appVersion + " setup=" + s.setupFile +
           " setupver=" + s.setupVersion + " host=" + s.syslogHost + " flags=" + flags;
}

struct OptionCase {
    std::string tail;
    std::string expected;
};

class OptionTable : public testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, FillsRunSettings) {
    EXPECT_EQ(describe(interpret(GetParam().tail)), GetParam().expected)
        << "tail: " << GetParam().tail;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, OptionTable,
    testing::Values(
        OptionCase{"HKLM App 1.0 -l -r -c -u -n",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=-l-rcnu"},
        OptionCase{"HKLM Editor 2.1.0.de -s C:\\Install\\setup.exe -v 7 -r -c -l -L loghost",
                   "root=HKLM(LM) app=Editor ver=2.1.0.de setup=C:\\Install\\setup.exe "
                   "setupver=7 host=loghost flags=slLrc--"},
        // An option swallows the word after it, so HKLM is lost here.
        OptionCase{"-l HKLM App 1.0",
                   "root=App(CU) app=1.0 ver=<unknown> setup= setupver= host= flags=-l-----"},
        OptionCase{"-u HKLM App 1.0",
                   "root=App(CU) app=1.0 ver=<unknown> setup= setupver= host= flags=------u"},
        OptionCase{"-l -r -c",
                   "root=(CU) app=<unknown> ver=<unknown> setup= setupver= host= flags=-l-rc--"},
        OptionCase{"-x foo HKLM App",
                   "root=foo(CU) app=HKLM ver=App setup= setupver= host= flags=-------"},
        OptionCase{"-S file HKLM App",
                   "root=file(CU) app=HKLM ver=App setup= setupver= host= flags=-------"},
        OptionCase{"hklm App 1.0",
                   "root=hklm(CU) app=App ver=1.0 setup= setupver= host= flags=-------"},
        OptionCase{"HKEY_USERS App 1.0",
                   "root=HKEY_USERS(CU) app=App ver=1.0 setup= setupver= host= flags=-------"},
        OptionCase{"HKEY_LOCAL_MACHINE App 1.0",
                   "root=HKEY_LOCAL_MACHINE(LM) app=App ver=1.0 setup= setupver= host= "
                   "flags=-------"},
        OptionCase{"HKCU App 1.0",
                   "root=HKCU(CU) app=App ver=1.0 setup= setupver= host= flags=-------"},
        OptionCase{"HKEY_CURRENT_USER App 1.0",
                   "root=HKEY_CURRENT_USER(CU) app=App ver=1.0 setup= setupver= host= "
                   "flags=-------"},
        OptionCase{"HKLM App -v 2.0",
                   "root=HKLM(LM) app=App ver=<unknown> setup= setupver=2.0 host= flags=-------"},
        // An empty -v or -s value falls to the slots and, with none free, is dropped.
        OptionCase{"HKLM App 1.0 -v",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=-------"},
        OptionCase{"HKLM App 1.0 -s",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=-------"},
        OptionCase{"HKLM App 1.0 -L",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=--L----"},
        OptionCase{"HKLM App 1.0 -L host1 -L",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=--L----"},
        OptionCase{"HKLM App 1.0 -s a.exe -s b.exe",
                   "root=HKLM(LM) app=App ver=1.0 setup=b.exe setupver= host= flags=s------"},
        OptionCase{"HKLM App 1.0 -v 1 -v 2 -v",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver=2 host= flags=-------"},
        OptionCase{"HKLM \"\" App 1.0",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=-------"},
        OptionCase{"HKLM App 1.0 extra",
                   "root=HKLM(LM) app=App ver=1.0 setup= setupver= host= flags=-------"},
        // Option letters are case-sensitive and whole: -S, -ss and -help match nothing,
        // so their values fill slots.
        OptionCase{"-ss a -help b -S c",
                   "root=a(CU) app=b ver=c setup= setupver= host= flags=-------"},
        // A flag letter ignores its value; the value does not reach a slot.
        OptionCase{"-r x -c y -n z",
                   "root=(CU) app=<unknown> ver=<unknown> setup= setupver= host= flags=---rcn-"},
        // Values go in unchanged: blanks, backslashes, high bytes.
        OptionCase{"HKLM \"My App\" \"2.0\\de\" -s \"C:\\a b\\s.exe\" -v \"\xE4 1\"",
                   "root=HKLM(LM) app=My App ver=2.0\\de setup=C:\\a b\\s.exe setupver=\xE4 1 "
                   "host= flags=s------"}));

TEST(ResolveRootKey, OnlyTheFourExactNamesSelectARoot) {
    EXPECT_EQ(resolveRootKey("HKLM"), RootKey::localMachine);
    EXPECT_EQ(resolveRootKey("HKEY_LOCAL_MACHINE"), RootKey::localMachine);
    EXPECT_EQ(resolveRootKey("HKCU"), RootKey::currentUser);
    EXPECT_EQ(resolveRootKey("HKEY_CURRENT_USER"), RootKey::currentUser);
    for (const char* other : {"", "hklm", "HKLM ", "HKEY_USERS", "HKLM\\Software"}) {
        EXPECT_EQ(resolveRootKey(other), RootKey::currentUser) << other;
    }
}

TEST(UsageText, IsTheFifteenLinesByteForByte) {
    const std::string expected =
        "usage: qoramark ROOTKEY APPNAME APPVER [options]\n"
        "  ROOTKEY\tHKCU / HKEY_CURRENT_USER / HKLM / HKEY_LOCAL_MACHINE\n"
        "  APPNAME\tapplications name, e.g. Mozilla\n"
        "  APPVER\tapplication version, e.g. 1.2.1.en\n"
        "  options:\n"
        "  -l\t\tenable local logging to C:\\WINNT\\QORA.LOG (write access needed)\n"
        "  -L hostname\tenable syslog logging to hostname\n"
        "  -r\t\twrite rundate\n"
        "  -s setupfile\twrite setupfile date\n"
        "  -c\t\tupdate run count in registry\n"
        "  -n\t\twrite nds account name of current user (.%NWUSERNAME%.%LOGINCONTEXT%)\n"
        "  -u\t\twrite sam account name of current user (%USERNAME%)\n"
        "  -v\t\twrite setupversion\n"
        "\n";
    const std::string text = usageText();
    ASSERT_GT(text.size(), expected.size());
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    const std::string attribution = text.substr(expected.size());
    EXPECT_EQ(attribution.find('\n'), attribution.size() - 1) << "one line, ending the text";
    EXPECT_NE(attribution.find("qoramark"), std::string::npos);
}

} // namespace
} // namespace qoramark
