#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qoramark::platform {

// An open log file; handle is the platform's file handle or descriptor.
struct LogFile {
    std::intptr_t handle = -1;
};

// The local log file's path for the value of SystemRoot (null when it is not defined);
// no value when this platform keeps no log without SystemRoot.
std::optional<std::string> localLogPath(const std::optional<std::string>& systemRoot);

// Opens the file for appending, shared with other writers, creating it when missing;
// false when it cannot be opened for writing.
bool openLogFile(const std::string& path, LogFile& file);

// Appends the line and the platform's line end in one write at the current end of the file,
// so that lines of concurrent writers never mix; false when the write failed.
bool writeLogLine(LogFile& file, const std::string& line);

void closeLogFile(LogFile& file);

} // namespace qoramark::platform
