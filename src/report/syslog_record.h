#pragma once

#include "driver/run_records.h"

namespace qoramark {

// Sends the SWV record to syslogHost when sendSyslog is set.
void sendSyslogRecord(const RunSettings& settings, const RunFacts& facts);

} // namespace qoramark
