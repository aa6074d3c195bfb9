#pragma once

#include "run/records.h"

namespace qoramark {

// samName from USERNAME; ndsName as "." + NWUSERNAME + "." + LOGINCONTEXT.
void gatherAccountNames(RunFacts& facts);

} // namespace qoramark
