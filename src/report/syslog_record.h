#pragma once

#include <array>

#include "run/records.h"

namespace qoramark {

// Host and record buffers: 1023 characters and a terminating zero.
using SyslogBuffer = std::array<char, 1024>;

// Forms the SWV record in the buffer; a record longer than 1023 characters is cut there.
void formatSyslogRecord(const RunSettings& settings, const RunFacts& facts, SyslogBuffer& record);

// Sends the SWV record to syslogHost when sendSyslog is set.
void sendSyslogRecord(const RunSettings& settings, const RunFacts& facts);

} // namespace qoramark
