#include "report/local_log.h"

#include <cstdlib>
#include <optional>

#include "platform/environment.h"
#include "platform/log_file.h"

namespace qoramark {

namespace {

constexpr const char* separator = "----------------------------------------";

std::string moment(std::int32_t seconds, const std::string& dateString) {
    return std::to_string(seconds) + " (" + dateString + ")";
}

} // namespace

std::vector<std::string> formatLocalLogBlock(const RunSettings& settings, const RunFacts& facts) {
    const std::string& date = facts.runDateString;
    return {
        date + separator,
        date + ": macaddress:   " + facts.macAddress,
        date + ": ipaddress:    " + facts.ipAddress,
        date + ": application:  " + settings.appName,
        date + ": appversion:   " + settings.appVersion,
        date + ": runcount:     " + std::to_string(facts.runCount),
        date + ": rundate:      " + moment(facts.runTime, facts.runDateString),
        date + ": setupdate:    " + moment(facts.setupTime, facts.setupDateString),
        date + ": setupversion: " + settings.setupVersion,
        date + ": unw:          " + facts.ndsName,
        date + ": uwn:          " + facts.samName,
        date + separator,
    };
}

// Each line goes out in a write of its own, so the blocks of runs logging at the same
// moment interleave only by whole lines; after a failed write the rest of the block is dropped.
void writeLocalLog(const RunSettings& settings, const RunFacts& facts) {
    if (!settings.localLog) {
        return;
    }
    const std::optional<std::string> path =
        platform::localLogPath(platform::environmentVariable("SystemRoot"));
    if (!path) {
        return;
    }
    platform::LogFile file;
    if (!platform::openLogFile(*path, file)) {
        return;
    }
    for (const std::string& line : formatLocalLogBlock(settings, facts)) {
        if (!platform::writeLogLine(file, line)) {
            break;
        }
    }
    platform::closeLogFile(file);
}

} // namespace qoramark
