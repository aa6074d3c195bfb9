#include "platform/log_file.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace qoramark::platform {

std::optional<std::string> localLogPath(const std::optional<std::string>& systemRoot) {
    if (!systemRoot) {
        return std::string("/var/log/QORA.LOG");
    }
    return *systemRoot + "/QORA.LOG";
}

bool openLogFile(const std::string& path, LogFile& file) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    file.handle = descriptor;
    return descriptor >= 0;
}

bool writeLogLine(LogFile& file, const std::string& line) {
    const std::string bytes = line + '\n';
    ssize_t count = 0;
    do {
        count = write(static_cast<int>(file.handle), bytes.data(), bytes.size());
    } while (count < 0 && errno == EINTR);
    return count == static_cast<ssize_t>(bytes.size());
}

void closeLogFile(LogFile& file) {
    if (file.handle >= 0) {
        close(static_cast<int>(file.handle));
    }
    file.handle = -1;
}

} // namespace qoramark::platform
