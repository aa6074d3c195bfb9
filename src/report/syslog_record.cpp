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

// No field can show more than the record holds, so each is taken only that far:
// the record reads the same, and a field of 32,767 characters is not walked
// through to its end.
void formatSyslogRecord(const RunSettings& settings, const RunFacts& facts, SyslogBuffer& record) {
    record.fill('\0');
    const int field = static_cast<int>(record.size() - 1);
    const int formed =
        std::snprintf(record.data(), record.size(),
                      "\"SWV\",\"%.*s\",\"%.*s\",\"%.*s\",\"%.*s\",%ld,\"%.*s\",%ld,"
                      "\"%.*s\",\"%.*s\",\"%s\",\"%s\"",
                      field, facts.macAddress.c_str(), field, facts.ipAddress.c_str(), field,
                      settings.appName.c_str(), field, settings.appVersion.c_str(),
                      static_cast<long>(facts.runTime), field, facts.runDateString.c_str(),
                      static_cast<long>(facts.setupTime), field, facts.setupDateString.c_str(),
                      field, settings.setupVersion.c_str(), notApplicable, notApplicable);
    // A formatting failure leaves no half-made record behind.
    if (formed < 0) {
        record.fill('\0');
    }
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
