#include "platform/log_file.h"

#include <windows.h>

namespace qoramark::platform {

namespace {

HANDLE toHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

std::optional<std::string> localLogPath(const std::optional<std::string>& systemRoot) {
    if (!systemRoot) {
        return std::nullopt;
    }
    return *systemRoot + "\\QORA.LOG";
}

// Append-only access makes the system place every write at the end of the file, also when
// another process has written there since.
bool openLogFile(const std::string& path, LogFile& file) {
    const HANDLE handle =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    return handle != INVALID_HANDLE_VALUE;
}

// Written as text mode writes it: every line feed, the one ending the line and any inside a
// value, becomes a carriage return and a line feed.
bool writeLogLine(LogFile& file, const std::string& line) {
    std::string bytes;
    bytes.reserve(line.size() + 2);
    for (const char c : line + '\n') {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    DWORD written = 0;
    return WriteFile(toHandle(file.handle), bytes.data(), static_cast<DWORD>(bytes.size()),
                     &written, nullptr) != 0 &&
           written == bytes.size();
}

void closeLogFile(LogFile& file) {
    if (toHandle(file.handle) != INVALID_HANDLE_VALUE) {
        CloseHandle(toHandle(file.handle));
    }
    file.handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

} // namespace qoramark::platform
