#pragma once

#include <string>

namespace qoramark {

// Where the system hands the program an argument vector instead of a command
// line, this forms the tail that the tokenizer expects: the arguments after
// the program name, joined by single blanks, an argument that is empty or holds
// whitespace wrapped in double quotes so that it stays one word.
std::string commandLineTailFromArguments(int argc, const char* const* argv);

// The process command line without the program's own name and the blanks and
// control characters (0x01 to 0x20) after it. A name that begins with a double
// quote runs to the next double quote, which goes too; any other name runs to
// the first byte of 0x20 or less.
std::string commandLineTailAfterProgramName(const char* commandLine);

} // namespace qoramark
