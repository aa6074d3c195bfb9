#include "registry/application_key.h"

namespace qoramark {

std::uint32_t updateApplicationKey(RootKey, const std::string&, const std::string&,
                                   const std::string&) {
    return 0;
}

} // namespace qoramark
