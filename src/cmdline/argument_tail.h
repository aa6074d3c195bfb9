#pragma once

#include <string>

namespace qoramark {

// Where the system hands the program an argument vector instead of a command
// line, this forms the tail that the tokenizer expects: the arguments after
// the program name, joined by single blanks, an argument that is empty or holds
// whitespace wrapped in double quotes so that it stays one word.
std::string commandLineTailFromArguments(int argc, const char* const* argv);

} // namespace qoramark
