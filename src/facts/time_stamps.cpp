#include "facts/time_stamps.h"

#include <limits>

#include "platform/clock.h"
#include "platform/file_time.h"
#include "platform/local_time.h"

namespace qoramark {

namespace {

constexpr std::size_t timeStampBufferSize = 128;

// Field by field from the calendar fields; the day of the year is not
// computed and daylight saving is left to mktime.
std::tm brokenDownTime(const platform::CalendarTime& time) {
    std::tm fields{};
    fields.tm_sec = time.second;
    fields.tm_min = time.minute;
    fields.tm_hour = time.hour;
    fields.tm_mday = time.day;
    fields.tm_mon = time.month - 1;
    fields.tm_year = time.year - 1900;
    fields.tm_wday = time.dayOfWeek;
    fields.tm_yday = 0;
    fields.tm_isdst = -1;
    return fields;
}

} // namespace

std::int32_t timeCount(std::int64_t moment) {
    if (moment < 0 || moment > std::numeric_limits<std::int32_t>::max()) {
        return -1;
    }
    return static_cast<std::int32_t>(moment);
}

std::string formatTimeStamp(const std::tm& localTime) {
    char text[timeStampBufferSize];
    const std::size_t length = std::strftime(text, sizeof(text), "%d.%m.%Y %X", &localTime);
    return std::string(text, length);
}

void stampSetupFile(const std::string& setupFile, RunFacts& facts) {
    platform::CalendarTime lastWrite;
    if (!platform::readLocalLastWriteTime(setupFile, lastWrite)) {
        return;
    }
    std::tm fields = brokenDownTime(lastWrite);
    // The text first: mktime normalises the fields it is given.
    facts.setupDateString = formatTimeStamp(fields);
    facts.setupTime = timeCount(platform::fromLocalTime(fields));
}

void stampRun(RunFacts& facts) {
    const std::int64_t now = platform::currentMoment();
    facts.runTime = timeCount(now);
    std::tm localTime;
    if (platform::toLocalTime(now, localTime)) {
        facts.runDateString = formatTimeStamp(localTime);
    }
}

} // namespace qoramark
