#include "facts/account_names.h"

namespace qoramark {

void gatherAccountNames(RunFacts&) {}

} // namespace qoramark
