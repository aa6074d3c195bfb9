#pragma once

#include <string>

#include "cmdline/command_line.h"
#include "run/records.h"

namespace qoramark {

// Entry walk, root-key resolution and name defaults, in that order.
void interpretCommandLine(const CommandLine& commandLine, RunSettings& settings);

RootKey resolveRootKey(const std::string& rootKeyName);

std::string usageText();

// Shows the usage text and returns once the user has dismissed it.
void showUsage();

} // namespace qoramark
