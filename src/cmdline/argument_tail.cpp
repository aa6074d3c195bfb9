#include "cmdline/argument_tail.h"

#include <cstring>

namespace qoramark {

namespace {

bool needsQuotes(const char* argument) {
    return *argument == '\0' || std::strpbrk(argument, " \t\n\v\f\r") != nullptr;
}

} // namespace

std::string commandLineTailFromArguments(int argc, const char* const* argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            tail.push_back(' ');
        }
        if (needsQuotes(argv[i])) {
            tail.push_back('"');
            tail.append(argv[i]);
            tail.push_back('"');
        } else {
            tail.append(argv[i]);
        }
    }
    return tail;
}

std::string commandLineTailAfterProgramName(const char* commandLine) {
    const auto* cursor = reinterpret_cast<const unsigned char*>(commandLine);
    if (*cursor == '"') {
        ++cursor;
        while (*cursor != '\0' && *cursor != '"') {
            ++cursor;
        }
        if (*cursor == '"') {
            ++cursor;
        }
    } else {
        while (*cursor > ' ') {
            ++cursor;
        }
    }
    while (*cursor != '\0' && *cursor <= ' ') {
        ++cursor;
    }
    return reinterpret_cast<const char*>(cursor);
}

} // namespace qoramark
