#include "report/syslog_record.h"

namespace qoramark {

void sendSyslogRecord(const RunSettings&, const RunFacts&) {}

} // namespace qoramark
