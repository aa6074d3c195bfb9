#include "platform/file_time.h"

#include <windows.h>

namespace qoramark::platform {

namespace {

CalendarTime calendarTimeOf(const SYSTEMTIME& time) {
    CalendarTime fields;
    fields.year = time.wYear;
    fields.month = time.wMonth;
    fields.dayOfWeek = time.wDayOfWeek;
    fields.day = time.wDay;
    fields.hour = time.wHour;
    fields.minute = time.wMinute;
    fields.second = time.wSecond;
    fields.milliseconds = time.wMilliseconds;
    return fields;
}

// FileTimeToLocalFileTime applies the bias in force now, daylight saving
// included, whatever the file's own date.
bool toLocalCalendarTime(const FILETIME& lastWrite, CalendarTime& localTime) {
    FILETIME localFileTime;
    SYSTEMTIME systemTime;
    if (!FileTimeToLocalFileTime(&lastWrite, &localFileTime) ||
        !FileTimeToSystemTime(&localFileTime, &systemTime)) {
        return false;
    }
    localTime = calendarTimeOf(systemTime);
    return true;
}

} // namespace

bool readLocalLastWriteTime(const std::string& path, CalendarTime& localTime) {
    // No sharing: the open fails while another handle has the file open.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_READONLY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILETIME lastWrite;
    const bool read = GetFileTime(file, nullptr, nullptr, &lastWrite) &&
                      toLocalCalendarTime(lastWrite, localTime);
    CloseHandle(file);
    return read;
}

} // namespace qoramark::platform
