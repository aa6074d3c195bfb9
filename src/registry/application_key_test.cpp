#include "registry/application_key.h"

#include <gtest/gtest.h>

#include "registry/key_paths.h"
#include "support/registry_fake.h"

namespace qoramark {
namespace {

namespace reg = platform;
namespace fake = platform::fake;

const std::string appKey = "Software\\QORA\\Installed\\App";

std::string create(const std::string& path) {
    return "create HKLM \"" + path + "\" 0 \"\" 0 0xf003f null null";
}

std::uint32_t update(const std::string& appName, const std::string& appVersion) {
    const KeyPaths paths = composeKeyPaths(appName, appVersion);
    return updateApplicationKey(RootKey::localMachine, paths.appKeyPath, paths.versionKeyPath,
                                appVersion);
}

std::string number(std::uint32_t n) {
    return std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 24)};
}

class ApplicationKeyCalls : public testing::Test {
  protected:
    void SetUp() override { fake::reset(); }
};

TEST_F(ApplicationKeyCalls, SameVersionAgainReadsTheCountFromTheVersionKey) {
    fake::putValue(reg::localMachineRoot, appKey, "currentversion", reg::regSz,
                   std::string("1.0\0", 4));
    fake::putValue(reg::localMachineRoot, appKey + "\\1.0", "RunCount", reg::regDword, number(41));

    EXPECT_EQ(update("App", "1.0"), 42u);

    const std::vector<std::string> expected = {
        create(appKey),
        "query \"currentversion\" null 128",
        "query \"currentversion\" ptr 4",
        "delete \"currentversion\"",
        "set \"currentversion\" 0 1 4 \"1.0\"+0",
        "close",
        create(appKey + "\\1.0"),
        "query \"RunCount\" null 4",
        "query \"RunCount\" ptr 4",
        "close",
    };
    EXPECT_EQ(fake::calls(), expected);
    EXPECT_EQ(fake::mostOpenKeys(), 1);
}

TEST_F(ApplicationKeyCalls, FirstRunCreatesTheKeyAndSetsCurrentVersion) {
    EXPECT_EQ(update("App", "2.1.0.de"), 0u);

    const std::vector<std::string> expected = {
        create(appKey),
        "query \"currentversion\" null 128",
        "delete \"currentversion\"",
        "set \"currentversion\" 0 1 9 \"2.1.0.de\"+0",
        "close",
    };
    EXPECT_EQ(fake::calls(), expected);
    EXPECT_FALSE(fake::hasKey(reg::localMachineRoot, appKey + "\\2.1.0.de"));
}

TEST_F(ApplicationKeyCalls, KeyThatCannotBeOpenedLeavesEverythingAlone) {
    fake::putValue(reg::localMachineRoot, appKey, "currentversion", reg::regSz,
                   std::string("1.0\0", 4));
    fake::failCreate(appKey, reg::errorAccessDenied);

    EXPECT_EQ(update("App", "1.0"), 0u);

    EXPECT_EQ(fake::calls(), std::vector<std::string>{create(appKey)});
}

TEST_F(ApplicationKeyCalls, VersionKeyThatCannotBeOpenedGivesZero) {
    fake::putValue(reg::localMachineRoot, appKey, "currentversion", reg::regSz,
                   std::string("1.0\0", 4));
    fake::failCreate(appKey + "\\1.0", reg::errorAccessDenied);

    EXPECT_EQ(update("App", "1.0"), 0u);
    EXPECT_EQ(fake::calls().back(), create(appKey + "\\1.0"));
}

struct StoredValue {
    std::string keyPath; // below the application key; empty for the key itself
    std::string name;
    std::uint32_t type;
    std::string data;
};

struct RunCountCase {
    const char* label;
    std::vector<StoredValue> stored;
    std::string appName;
    std::string appVersion;
    std::uint32_t expectedRunCount;
};

void PrintTo(const RunCountCase& c, std::ostream* os) {
    *os << c.label;
}

std::string text(const std::string& s) {
    return s + std::string(1, '\0');
}

const std::string version127(127, 'v');
const std::string version128(128, 'w');

class RunCountTable : public testing::TestWithParam<RunCountCase> {
  protected:
    void SetUp() override { fake::reset(); }
};

TEST_P(RunCountTable, GivesTheRunCountAndReplacesCurrentVersion) {
    const RunCountCase& c = GetParam();
    const KeyPaths paths = composeKeyPaths(c.appName, c.appVersion);
    for (const StoredValue& v : c.stored) {
        fake::putValue(reg::localMachineRoot,
                       paths.appKeyPath + (v.keyPath.empty() ? "" : "\\" + v.keyPath), v.name,
                       v.type, v.data);
    }

    EXPECT_EQ(update(c.appName, c.appVersion), c.expectedRunCount);

    const fake::Value current =
        fake::value(reg::localMachineRoot, paths.appKeyPath, "currentversion");
    EXPECT_EQ(current.type, reg::regSz);
    EXPECT_EQ(current.data, text(c.appVersion));
    EXPECT_EQ(fake::mostOpenKeys(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    ApplicationKey, RunCountTable,
    testing::Values(RunCountCase{"first run", {}, "App", "1.0", 0},
                    RunCountCase{"same version, RunCount 41",
                                 {{"", "currentversion", reg::regSz, text("1.0")},
                                  {"1.0", "RunCount", reg::regDword, number(41)}},
                                 "App",
                                 "1.0",
                                 42},
                    RunCountCase{"same version, no RunCount",
                                 {{"", "currentversion", reg::regSz, text("1.0")}},
                                 "App",
                                 "1.0",
                                 1},
                    RunCountCase{"RunCount of 8 bytes",
                                 {{"", "currentversion", reg::regSz, text("1.0")},
                                  {"1.0", "RunCount", 11, number(41) + number(0)}},
                                 "App",
                                 "1.0",
                                 1},
                    RunCountCase{"RunCount a 4-byte text, read as a little-endian number",
                                 {{"", "currentversion", reg::regSz, text("1.0")},
                                  {"1.0", "RunCount", reg::regSz, text("abc")}},
                                 "App",
                                 "1.0",
                                 0x00636261u + 1},
                    RunCountCase{"other version in currentversion",
                                 {{"", "currentversion", reg::regSz, text("0.9")},
                                  {"1.0", "RunCount", reg::regDword, number(7)}},
                                 "App",
                                 "1.0",
                                 0},
                    RunCountCase{"stored version differs in case only",
                                 {{"", "currentversion", reg::regSz, text("1.2.1.EN")},
                                  {"1.2.1.en", "RunCount", reg::regDword, number(7)}},
                                 "App",
                                 "1.2.1.en",
                                 0},
                    RunCountCase{"currentversion of 128 bytes is read",
                                 {{"", "currentversion", reg::regSz, text(version127)},
                                  {version127, "RunCount", reg::regDword, number(5)}},
                                 "App",
                                 version127,
                                 6},
                    RunCountCase{"currentversion of 129 bytes is no version",
                                 {{"", "currentversion", reg::regSz, text(version128)},
                                  {version128, "RunCount", reg::regDword, number(5)}},
                                 "App",
                                 version128,
                                 0},
                    RunCountCase{"RunCount 4294967295 wraps around",
                                 {{"", "currentversion", reg::regSz, text("1.0")},
                                  {"1.0", "RunCount", reg::regDword, number(4294967295u)}},
                                 "App",
                                 "1.0",
                                 0},
                    RunCountCase{"version with a backslash is two levels down",
                                 {{"", "currentversion", reg::regSz, text("2.0\\de")},
                                  {"2.0\\de", "RunCount", reg::regDword, number(3)}},
                                 "App",
                                 "2.0\\de",
                                 4},
                    RunCountCase{"currentversion of another type is text up to its zero byte",
                                 {{"", "currentversion", 3, std::string("1.0\0junk", 8)},
                                  {"1.0", "RunCount", reg::regDword, number(9)}},
                                 "App",
                                 "1.0",
                                 10},
                    RunCountCase{"both names unknown",
                                 {{"", "currentversion", reg::regSz, text("<unknown>")},
                                  {"<unknown>", "RunCount", reg::regDword, number(1)}},
                                 "<unknown>",
                                 "<unknown>",
                                 2}));

TEST(ApplicationKey, UnreadableCurrentVersionCountsAsNoVersion) {
    fake::reset();
    fake::putValue(reg::localMachineRoot, appKey, "currentversion", reg::regSz, text("1.0"));
    fake::putValue(reg::localMachineRoot, appKey + "\\1.0", "RunCount", reg::regDword, number(3));
    fake::failRead("currentversion", reg::errorMoreData);

    EXPECT_EQ(update("App", "1.0"), 0u);
    EXPECT_EQ(fake::value(reg::localMachineRoot, appKey, "currentversion").data, text("1.0"));
}

TEST(KeyPaths, AreComposedBelowTheInstalledKey) {
    const KeyPaths paths = composeKeyPaths("<unknown>", "2.0\\de");
    EXPECT_EQ(paths.appKeyPath, "Software\\QORA\\Installed\\<unknown>");
    EXPECT_EQ(paths.versionKeyPath, "Software\\QORA\\Installed\\<unknown>\\2.0\\de");
}

} // namespace
} // namespace qoramark
