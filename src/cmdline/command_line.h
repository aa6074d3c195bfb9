#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qoramark {

// One option with the value that belongs to it. A plain word has an empty
// option; an option followed by another option or by the end has an empty value.
struct CommandLineEntry {
    std::string option;
    std::string value;

    bool operator==(const CommandLineEntry&) const = default;
};

// The command-line tail split into entries, once, at construction.
class CommandLine {
  public:
    explicit CommandLine(const std::string& tail);
    virtual ~CommandLine() = default;

    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    std::uint32_t count() const;
    // Indexes at or past count() give emptyEntry.
    const CommandLineEntry& entry(std::uint32_t index) const;

  private:
    std::vector<CommandLineEntry> entries;
    const CommandLineEntry emptyEntry;
};

} // namespace qoramark
