#include "report/syslog_record.h"

#include <cstdio>
#include <cstring>

#include "platform/syslog_library.h"

namespace qoramark {

namespace {

constexpr int local0 = 16;
constexpr int informational = 6;
constexpr const char* notApplicable = "n/a";

} // namespace

void formatSyslogRecord(const RunSettings& settings, const RunFacts& facts, SyslogBuffer& record) {
    record.fill('\0');
    std::snprintf(record.data(), record.size(),
                  "\"SWV\",\"%s\",\"%s\",\"%s\",\"%s\",%ld,\"%s\",%ld,\"%s\",\"%s\",\"%s\",\"%s\"",
                  facts.macAddress.c_str(), facts.ipAddress.c_str(), settings.appName.c_str(),
                  settings.appVersion.c_str(), static_cast<long>(facts.runTime),
                  facts.runDateString.c_str(), static_cast<long>(facts.setupTime),
                  facts.setupDateString.c_str(), settings.setupVersion.c_str(), notApplicable,
                  notApplicable);
}

// The record is formed before the library is asked to start, also when it then does not.
void sendSyslogRecord(const RunSettings& settings, const RunFacts& facts) {
    if (!settings.sendSyslog) {
        return;
    }
    SyslogBuffer host{};
    std::strncpy(host.data(), settings.syslogHost.c_str(), host.size() - 1);
    SyslogBuffer record{};
    formatSyslogRecord(settings, facts, record);
    if (platform::initializeSyslogLibrary() != 0) {
        return;
    }
    platform::sendSyslogMessage(host.data(), local0, informational, record.data());
    platform::uninitializeSyslogLibrary();
}

} // namespace qoramark
