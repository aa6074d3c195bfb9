#include "platform/environment.h"

#include <cstdlib>

namespace qoramark::platform {

// The C library's getenv on Windows already ignores case.
std::optional<std::string> environmentVariable(const std::string& name) {
    const char* text = std::getenv(name.c_str());
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

} // namespace qoramark::platform
