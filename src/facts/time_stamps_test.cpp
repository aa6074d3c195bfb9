#include "facts/time_stamps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/fixed_clock.h"

namespace qoramark {
namespace {

// Moments in seconds since 1970 UTC.
constexpr std::int64_t winterRun = 1796990400;         // 2026-12-11 12:00:00 UTC, CET
constexpr std::int64_t summerRun = 1782907200;         // 2026-07-01 12:00:00 UTC, CEST
constexpr std::int64_t berlinMorning2003 = 1044086703; // 2003-02-01 09:05:03 CET

// Every test runs under the Berlin rules, with the clock held by the test.
class BerlinTime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            savedTz = tz;
        }
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        folder = std::filesystem::temp_directory_path() /
                 ("qoramark-stamps-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
    }

    void TearDown() override {
        std::filesystem::remove_all(folder);
        if (savedTz) {
            setenv("TZ", savedTz->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

    std::string fileWrittenAt(std::int64_t moment, const std::string& name = "setup.exe") {
        const std::filesystem::path path = folder / name;
        std::ofstream(path) << "setup";
        const struct timespec times[2] = {{static_cast<time_t>(moment), 0},
                                          {static_cast<time_t>(moment), 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path.string();
    }

    std::filesystem::path folder;
    std::optional<std::string> savedTz;
};

std::tm localFields(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return fields;
}

struct TextCase {
    std::tm fields;
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << c.text;
}

class TimeStampText : public ::testing::TestWithParam<TextCase> {};

TEST_P(TimeStampText, HasNineteenCharactersWithLeadingZerosAndA24HourClock) {
    const std::string text = formatTimeStamp(GetParam().fields);
    EXPECT_EQ(text, GetParam().text);
    EXPECT_EQ(text.size(), 19u);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TimeStampText,
    ::testing::Values(TextCase{localFields(2003, 3, 5, 14, 7, 9), "05.03.2003 14:07:09"},
                      TextCase{localFields(2011, 11, 30, 14, 15, 0), "30.11.2011 14:15:00"},
                      TextCase{localFields(1999, 1, 1, 0, 0, 0), "01.01.1999 00:00:00"},
                      TextCase{localFields(1965, 6, 1, 23, 59, 59), "01.06.1965 23:59:59"},
                      TextCase{localFields(2040, 12, 31, 9, 8, 7), "31.12.2040 09:08:07"}));

struct SetupFileCase {
    const char* name;
    std::int64_t runMoment;
    std::int64_t fileMoment;
    const char* text;
    std::int32_t setupTime;
};

void PrintTo(const SetupFileCase& c, std::ostream* out) {
    *out << c.name;
}

class SetupFileStamp : public BerlinTime, public ::testing::WithParamInterface<SetupFileCase> {};

// The file's moment goes to local time with the offset in force at the run,
// and back to seconds with the rules for the file's own date.
TEST_P(SetupFileStamp, ShiftsByTheOffsetAtTheRunAndCountsByTheFilesDate) {
    platform::holdClockAt(GetParam().runMoment);
    RunFacts facts;
    stampSetupFile(fileWrittenAt(GetParam().fileMoment), facts);
    EXPECT_EQ(facts.setupDateString, GetParam().text);
    EXPECT_EQ(facts.setupTime, GetParam().setupTime);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, SetupFileStamp,
    ::testing::Values(SetupFileCase{"SameOffsetAtRun", winterRun, berlinMorning2003,
                                    "01.02.2003 09:05:03",
                                    static_cast<std::int32_t>(berlinMorning2003)},
                      SetupFileCase{"DaylightSavingAtRunOnly", summerRun, berlinMorning2003,
                                    "01.02.2003 10:05:03",
                                    static_cast<std::int32_t>(berlinMorning2003 + 3600)},
                      // Written at 12:00 summer time, read back in winter.
                      SetupFileCase{"DaylightSavingAtFileOnly", winterRun, 1057053600,
                                    "01.07.2003 11:00:00", 1057053600 - 3600},
                      SetupFileCase{"Before1970", winterRun, -144680400, "01.06.1965 12:00:00", -1},
                      SetupFileCase{"After2038", winterRun, 2214212400, "01.03.2040 12:00:00", -1},
                      SetupFileCase{"FirstCountableMoment", winterRun, 0, "01.01.1970 01:00:00", 0},
                      SetupFileCase{"LastCountableMoment", winterRun, 2147483647,
                                    "19.01.2038 04:14:07", 2147483647}),
    [](const auto& info) { return std::string(info.param.name); });

// Under summer time at the run, a file written at 00:30 UTC on the night the
// clocks went forward lands on 02:30, an hour that did not exist; mktime
// normalises it, the text keeps the fields as built.
TEST_F(BerlinTime, TextComesFromTheFieldsBeforeMktimeNormalisesThem) {
    platform::holdClockAt(summerRun);
    RunFacts facts;
    stampSetupFile(fileWrittenAt(1048984200), facts);
    EXPECT_EQ(facts.setupDateString, "30.03.2003 02:30:00");
}

TEST_F(BerlinTime, FilesThatCannotBeOpenedLeaveTheStampAsItWas) {
    platform::holdClockAt(winterRun);
    std::filesystem::create_directory(folder / "folder");
    for (const std::filesystem::path& path : {folder / "missing.exe", folder / "folder"}) {
        RunFacts facts;
        stampSetupFile(path.string(), facts);
        EXPECT_EQ(facts.setupTime, 0) << path;
        EXPECT_EQ(facts.setupDateString, "") << path;
    }
}

struct Stamped {
    std::int32_t setupTime = 0;
    std::string text;
};

// Stamps the files as the unprivileged user "nobody" when the test runs as
// root, whose reads no file mode refuses.
std::vector<Stamped> stampAsUnprivilegedUser(const std::vector<std::string>& paths) {
    const auto stampAll = [&paths] {
        std::vector<Stamped> results;
        for (const std::string& path : paths) {
            RunFacts facts;
            stampSetupFile(path, facts);
            results.push_back({facts.setupTime, facts.setupDateString});
        }
        return results;
    };
    if (geteuid() != 0) {
        return stampAll();
    }
    int channel[2];
    if (pipe(channel) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        constexpr uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
            _exit(2);
        }
        for (const Stamped& stamped : stampAll()) {
            const std::string line = std::to_string(stamped.setupTime) + " " + stamped.text + "\n";
            if (write(channel[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                _exit(3);
            }
        }
        _exit(0);
    }
    close(channel[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof(buffer))) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::vector<Stamped> results;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = output.substr(start, end - start);
        const std::size_t blank = line.find(' ');
        results.push_back({std::stoi(line.substr(0, blank)), line.substr(blank + 1)});
    }
    return results;
}

// The readable neighbour shows that only the file's own mode stops the read.
TEST_F(BerlinTime, FileWithoutReadPermissionLeavesTheStampAsItWas) {
    platform::holdClockAt(winterRun);
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                    std::filesystem::perms::others_exec);
    const std::string readable = fileWrittenAt(berlinMorning2003, "readable.exe");
    const std::string unreadable = fileWrittenAt(berlinMorning2003, "unreadable.exe");
    std::filesystem::permissions(readable, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    std::filesystem::permissions(unreadable, std::filesystem::perms::none);

    const std::vector<Stamped> results = stampAsUnprivilegedUser({readable, unreadable});
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].text, "01.02.2003 09:05:03");
    EXPECT_EQ(results[0].setupTime, berlinMorning2003);
    EXPECT_EQ(results[1].text, "");
    EXPECT_EQ(results[1].setupTime, 0);
}

struct RunCase {
    const char* name;
    std::int64_t moment;
    std::int32_t runTime;
    const char* text;
};

void PrintTo(const RunCase& c, std::ostream* out) {
    *out << c.name;
}

class RunStamp : public BerlinTime, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunStamp, CountsAndShowsTheMomentOfTheRun) {
    platform::holdClockAt(GetParam().moment);
    RunFacts facts;
    stampRun(facts);
    EXPECT_EQ(facts.runTime, GetParam().runTime);
    EXPECT_EQ(facts.runDateString, GetParam().text);
}

// Past 2038 the count has no value, but the text still shows the true time.
INSTANTIATE_TEST_SUITE_P(
    Moments, RunStamp,
    ::testing::Values(RunCase{"Summer", summerRun, 1782907200, "01.07.2026 14:00:00"},
                      RunCase{"Winter", winterRun, 1796990400, "11.12.2026 13:00:00"},
                      RunCase{"LastCountableMoment", 2147483647, 2147483647, "19.01.2038 04:14:07"},
                      RunCase{"FirstUncountableMoment", 2147483648LL, -1, "19.01.2038 04:14:08"},
                      RunCase{"In2040", 2208988800LL, -1, "01.01.2040 01:00:00"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qoramark
