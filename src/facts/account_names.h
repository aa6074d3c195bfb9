#pragma once

#include "run/records.h"

namespace qoramark {

// samName from USERNAME (on POSIX, the running account's name when it is unset); ndsName as "." +
// NWUSERNAME + "." + LOGINCONTEXT.
void gatherAccountNames(RunFacts& facts);

} // namespace qoramark
