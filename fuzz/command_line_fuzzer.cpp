// The command line from the outside in: the process command line cut after the
// program name, or an argument vector joined into a tail; then the tokenizer,
// option interpretation and the key paths.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline/argument_tail.h"
#include "cmdline/command_line.h"
#include "driver/options.h"
#include "registry/key_paths.h"

namespace {

using namespace qoramark;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void interpretAndCompose(const CommandLine& commandLine) {
    RunSettings settings;
    interpretCommandLine(commandLine, settings);
    check(!settings.appName.empty() && !settings.appVersion.empty());
    const KeyPaths paths = composeKeyPaths(settings.appName, settings.appVersion);
    check(paths.appKeyPath == "Software\\QORA\\Installed\\" + settings.appName);
    check(paths.versionKeyPath == paths.appKeyPath + "\\" + settings.appVersion);
    check(commandLine.entry(commandLine.count()) == CommandLineEntry{});
}

// Arguments without quotes that do not start with a dash come back one entry
// each, byte for byte, whatever blanks they hold.
void checkArgumentsSurviveTheTail(const std::vector<std::string>& arguments,
                                  const CommandLine& commandLine) {
    for (const std::string& argument : arguments) {
        if (argument.find('"') != std::string::npos || argument.starts_with('-')) {
            return;
        }
    }
    check(commandLine.count() == arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        check(commandLine.entry(static_cast<std::uint32_t>(i)) ==
              (CommandLineEntry{"", arguments[i]}));
    }
}

void fuzzArgumentVector(const std::string& input) {
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t end = input.find('\0'); end != std::string::npos;
         start = end + 1, end = input.find('\0', start)) {
        arguments.push_back(input.substr(start, end - start));
    }
    arguments.push_back(input.substr(start));
    std::vector<const char*> argv{"qoramark"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    const CommandLine commandLine(
        commandLineTailFromArguments(static_cast<int>(argv.size()), argv.data()));
    checkArgumentsSurviveTheTail(arguments, commandLine);
    interpretAndCompose(commandLine);
}

void fuzzProcessCommandLine(const std::string& input) {
    const std::string tail = commandLineTailAfterProgramName(input.c_str());
    check(tail.size() <= input.size());
    const CommandLine commandLine(tail);
    interpretAndCompose(commandLine);
}

} // namespace

// The first byte picks the form: odd for an argument vector (arguments split
// at zero bytes), even for a process command line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) != 0) {
        fuzzArgumentVector(input);
    } else {
        fuzzProcessCommandLine(input);
    }
    return 0;
}
