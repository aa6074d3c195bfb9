#include "platform/file_time.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/clock.h"

namespace qoramark::platform {

namespace {

// The last-modification time of a file this process may open for reading;
// a directory counts as a file that cannot be opened, as on Windows.
bool readLastWriteTime(const std::string& path, struct timespec& lastWrite) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0) {
        return false;
    }
    struct stat status;
    const bool read = fstat(file, &status) == 0 && !S_ISDIR(status.st_mode);
    close(file);
    if (read) {
        lastWrite = status.st_mtim;
    }
    return read;
}

// Seconds east of UTC in force at the moment, daylight saving included.
bool utcOffsetAt(std::int64_t moment, long& offset) {
    const time_t value = static_cast<time_t>(moment);
    struct tm local;
    if (localtime_r(&value, &local) == nullptr) {
        return false;
    }
    offset = local.tm_gmtoff;
    return true;
}

} // namespace

bool readLocalLastWriteTime(const std::string& path, CalendarTime& localTime) {
    struct timespec lastWrite;
    long offset = 0;
    if (!readLastWriteTime(path, lastWrite) || !utcOffsetAt(currentMoment(), offset)) {
        return false;
    }
    const time_t shifted = lastWrite.tv_sec + offset;
    struct tm fields;
    if (gmtime_r(&shifted, &fields) == nullptr) {
        return false;
    }
    localTime.year = fields.tm_year + 1900;
    localTime.month = fields.tm_mon + 1;
    localTime.dayOfWeek = fields.tm_wday;
    localTime.day = fields.tm_mday;
    localTime.hour = fields.tm_hour;
    localTime.minute = fields.tm_min;
    localTime.second = fields.tm_sec;
    localTime.milliseconds = static_cast<int>(lastWrite.tv_nsec / 1000000);
    return true;
}

} // namespace qoramark::platform
