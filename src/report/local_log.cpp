#include "report/local_log.h"

namespace qoramark {

void writeLocalLog(const RunSettings&, const RunFacts&) {}

} // namespace qoramark
