#include "platform/environment.h"

#include <cstdlib>
#include <string_view>
#include <unistd.h>

namespace qoramark::platform {

namespace {

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameAsciiCaseless(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> firstCaselessMatch(const std::string& name) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos && sameAsciiCaseless(text.substr(0, equals), name)) {
            return std::string(text.substr(equals + 1));
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> environmentVariable(const std::string& name) {
    if (const char* exact = std::getenv(name.c_str())) {
        return std::string(exact);
    }
    return firstCaselessMatch(name);
}

} // namespace qoramark::platform
