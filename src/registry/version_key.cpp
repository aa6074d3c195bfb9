#include "registry/version_key.h"

namespace qoramark {

std::int32_t writeVersionKey(RootKey, const std::string&, const RunSettings&, const RunFacts&) {
    return 0;
}

} // namespace qoramark
