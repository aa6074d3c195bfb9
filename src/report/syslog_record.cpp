#include "report/syslog_record.h"

#include <cstring>
#include <string>

#include "platform/syslog_library.h"

namespace qoramark {

namespace {

constexpr int local0 = 16;
constexpr int informational = 6;
constexpr const char* notApplicable = "n/a";

} // namespace

namespace {

void appendQuoted(std::string& text, const std::string& value) {
    text.append(1, '"').append(value).append(1, '"');
}

} // namespace

// The record is put together whole and then cut to what its buffer holds, so no
// field is ever written past the buffer, however long the names are.
void formatSyslogRecord(const RunSettings& settings, const RunFacts& facts, SyslogBuffer& record) {
    std::string text;
    appendQuoted(text, "SWV");
    for (const std::string* value :
         {&facts.macAddress, &facts.ipAddress, &settings.appName, &settings.appVersion}) {
        text.append(1, ',');
        appendQuoted(text, *value);
    }
    text.append(1, ',').append(std::to_string(facts.runTime)).append(1, ',');
    appendQuoted(text, facts.runDateString);
    text.append(1, ',').append(std::to_string(facts.setupTime));
    for (const std::string* value : {&facts.setupDateString, &settings.setupVersion}) {
        text.append(1, ',');
        appendQuoted(text, *value);
    }
    for (int i = 0; i < 2; ++i) {
        text.append(1, ',');
        appendQuoted(text, notApplicable);
    }
    record.fill('\0');
    text.copy(record.data(), record.size() - 1);
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
