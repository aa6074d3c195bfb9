#include "registry/version_key.h"

#include <gtest/gtest.h>

#include "support/registry_fake.h"

namespace qoramark {
namespace {

namespace reg = platform;
namespace fake = platform::fake;

const std::string versionKey = "Software\\QORA\\Installed\\App\\1.0";

RunFacts sampleFacts() {
    RunFacts facts;
    facts.setupTime = -1;
    facts.setupDateString = "01.02.2003 09:05:03";
    facts.runTime = 0x12345678;
    facts.runDateString = "05.03.2003 14:07:09";
    facts.samName = "jdoe";
    facts.ndsName = ".jdoe.org";
    facts.runCount = 42;
    return facts;
}

RunSettings settingsWith(const std::string& options) {
    RunSettings settings;
    settings.writeSetupDate = options.find('s') != std::string::npos;
    settings.writeRunDate = options.find('r') != std::string::npos;
    settings.updateRunCount = options.find('c') != std::string::npos;
    settings.writeSamName = options.find('u') != std::string::npos;
    settings.writeNdsName = options.find('n') != std::string::npos;
    return settings;
}

std::int32_t write(const RunSettings& settings) {
    return writeVersionKey(RootKey::currentUser, versionKey, settings, sampleFacts());
}

TEST(VersionKeyCalls, EveryOptionWritesInOrderDeletingBeforeEachSetButRunCount) {
    fake::reset();
    RunSettings settings = settingsWith("srcun");
    settings.setupVersion = "7";

    EXPECT_EQ(write(settings), 0);

    const std::vector<std::string> expected = {
        "create HKCU \"" + versionKey + "\" 0 \"\" 0 0xf003f null null",
        "delete \"SetupDate\"",
        "set \"SetupDate\" 0 4 4 ffffffff",
        "delete \"SetupDateString\"",
        "set \"SetupDateString\" 0 1 20 \"01.02.2003 09:05:03\"+0",
        "delete \"RunDate\"",
        "set \"RunDate\" 0 4 4 78563412",
        "delete \"RunDateString\"",
        "set \"RunDateString\" 0 1 20 \"05.03.2003 14:07:09\"+0",
        "delete \"SetupVersion\"",
        "set \"SetupVersion\" 0 1 2 \"7\"+0",
        "set \"RunCount\" 0 4 4 2a000000",
        "delete \"UWN\"",
        "set \"UWN\" 0 1 5 \"jdoe\"+0",
        "delete \"UNW\"",
        "set \"UNW\" 0 1 10 \".jdoe.org\"+0",
        "close",
    };
    EXPECT_EQ(fake::calls(), expected);
    EXPECT_EQ(fake::mostOpenKeys(), 1);
}

TEST(VersionKeyCalls, NoOptionsWriteAnEmptySetupVersionOnly) {
    fake::reset();

    EXPECT_EQ(write(RunSettings{}), 0);

    const std::vector<std::string> expected = {
        "create HKCU \"" + versionKey + "\" 0 \"\" 0 0xf003f null null",
        "delete \"SetupVersion\"",
        "set \"SetupVersion\" 0 1 1 \"\"+0",
        "close",
    };
    EXPECT_EQ(fake::calls(), expected);
}

TEST(VersionKeyCalls, KeyThatCannotBeOpenedWritesNothing) {
    fake::reset();
    fake::failCreate(versionKey, reg::errorAccessDenied);

    EXPECT_EQ(write(settingsWith("srcun")), reg::errorAccessDenied);

    EXPECT_EQ(fake::calls().size(), 1u);
    EXPECT_FALSE(fake::hasKey(reg::currentUserRoot, versionKey));
}

TEST(VersionKey, RunCountStoredAsTextIsReplacedByANumber) {
    fake::reset();
    fake::putValue(reg::currentUserRoot, versionKey, "runcount", reg::regSz, std::string("9\0", 2));

    write(settingsWith("c"));

    const fake::Value stored = fake::value(reg::currentUserRoot, versionKey, "RunCount");
    EXPECT_EQ(stored.type, reg::regDword);
    EXPECT_EQ(stored.data, std::string("\x2a\0\0\0", 4));
}

struct Failure {
    std::string valueName;
    std::int32_t status;
};

struct ExitCodeCase {
    const char* label;
    std::string options;
    std::vector<Failure> failures;
    std::int32_t expectedExitCode;
    std::int32_t closeStatus = 0; // the key's writes could not be kept
};

void PrintTo(const ExitCodeCase& c, std::ostream* os) {
    *os << c.label;
}

class ExitCodeTable : public testing::TestWithParam<ExitCodeCase> {};

TEST_P(ExitCodeTable, IsTheFirstFailureOfTheKeptWrites) {
    const ExitCodeCase& c = GetParam();
    fake::reset();
    for (const Failure& failure : c.failures) {
        fake::failSet(failure.valueName, failure.status);
    }
    fake::failClose(reg::currentUserRoot, versionKey, c.closeStatus);

    EXPECT_EQ(write(settingsWith(c.options)), c.expectedExitCode);
    EXPECT_EQ(fake::calls().back(), "close");
}

constexpr std::int32_t ioFailed = 1016;

INSTANTIATE_TEST_SUITE_P(
    VersionKey, ExitCodeTable,
    testing::Values(
        ExitCodeCase{"no options", "", {}, 0}, ExitCodeCase{"every option", "srcun", {}, 0},
        ExitCodeCase{"SetupVersion fails", "", {{"SetupVersion", ioFailed}}, ioFailed},
        ExitCodeCase{"SetupVersion fails, later writes succeed",
                     "cun",
                     {{"SetupVersion", ioFailed}},
                     ioFailed},
        ExitCodeCase{"RunCount fails, UWN succeeds", "cu", {{"RunCount", ioFailed}}, ioFailed},
        ExitCodeCase{"UWN and UNW fail: the first counts",
                     "un",
                     {{"UWN", reg::errorAccessDenied}, {"UNW", ioFailed}},
                     reg::errorAccessDenied},
        ExitCodeCase{"UNW fails", "n", {{"UNW", ioFailed}}, ioFailed},
        ExitCodeCase{"RunCount fails without -c: not written", "u", {{"RunCount", ioFailed}}, 0},
        ExitCodeCase{"date values never reach the exit code",
                     "sr",
                     {{"SetupDate", ioFailed},
                      {"SetupDateString", ioFailed},
                      {"RunDate", ioFailed},
                      {"RunDateString", ioFailed}},
                     0},
        ExitCodeCase{"writes not kept at the close", "srcun", {}, ioFailed, ioFailed},
        ExitCodeCase{"writes not kept after a failed kept write: the write counts",
                     "un",
                     {{"UWN", reg::errorAccessDenied}},
                     reg::errorAccessDenied,
                     ioFailed},
        ExitCodeCase{"date value fails and writes not kept",
                     "r",
                     {{"RunDate", ioFailed}},
                     reg::errorBadDb,
                     reg::errorBadDb}));

} // namespace
} // namespace qoramark
