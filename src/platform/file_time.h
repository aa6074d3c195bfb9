#pragma once

#include <cstdint>
#include <string>

namespace qoramark::platform {

// Calendar fields as the Win32 SYSTEMTIME holds them: month 1 to 12, day of
// the week 0 = Sunday.
struct CalendarTime {
    int year = 0;
    int month = 0;
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// The file's last-write time in local calendar fields, shifted by the UTC
// offset in force now (not by the offset of the file's own date). False, with
// localTime untouched, when the file cannot be opened for reading without
// sharing, is a directory, or its time cannot be read or converted. The file
// is open only within this call.
bool readLocalLastWriteTime(const std::string& path, CalendarTime& localTime);

} // namespace qoramark::platform
