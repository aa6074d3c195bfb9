#include "cmdline/command_line.h"

namespace qoramark {

namespace {

enum class ScanState { Between, InOption, InValue, InQuotedValue };

// The "C" locale's isspace set, tested on the unsigned byte so that bytes from
// 0x80 up never split a word whatever the locale.
bool isWhitespace(unsigned char byte) {
    return byte == 0x20 || (byte >= 0x09 && byte <= 0x0D);
}

constexpr unsigned char dash = 0x2D;
constexpr unsigned char quote = 0x22;

class Tokenizer {
  public:
    explicit Tokenizer(std::vector<CommandLineEntry>& entries) : entries(entries) {}

    // Inside a word every byte up to the word's end goes to the same text, so
    // such runs are appended whole; step() sees only the bytes that can change
    // the state. A 32,767-byte tail is then a handful of appends.
    void scan(const std::string& text) {
        std::size_t index = 0;
        while (index < text.size()) {
            if (std::string* target = wordTarget()) {
                const std::size_t end = endOfWord(text, index);
                target->append(text, index, end - index);
                index = end;
                if (index == text.size()) {
                    break;
                }
            }
            step(static_cast<unsigned char>(text[index]), text[index]);
            ++index;
        }
        if (!pendingOption.empty() || !pendingValue.empty()) {
            emit();
        }
    }

  private:
    std::string* wordTarget() {
        switch (state) {
        case ScanState::InOption:
            return &pendingOption;
        case ScanState::InValue:
        case ScanState::InQuotedValue:
            return &pendingValue;
        case ScanState::Between:
            break;
        }
        return nullptr;
    }

    std::size_t endOfWord(const std::string& text, std::size_t index) const {
        const bool quoted = state == ScanState::InQuotedValue;
        while (index < text.size()) {
            const auto byte = static_cast<unsigned char>(text[index]);
            if (quoted ? byte == quote : isWhitespace(byte)) {
                break;
            }
            ++index;
        }
        return index;
    }

    void emit() {
        entries.push_back(CommandLineEntry{std::move(pendingOption), std::move(pendingValue)});
        pendingOption.clear();
        pendingValue.clear();
    }

    void step(unsigned char byte, char c) {
        switch (state) {
        case ScanState::Between:
            if (isWhitespace(byte)) {
                return;
            }
            if (byte == dash) {
                if (!pendingOption.empty()) {
                    emit();
                }
                state = ScanState::InOption;
            } else if (byte == quote) {
                state = ScanState::InQuotedValue;
            } else {
                pendingValue.push_back(c);
                state = ScanState::InValue;
            }
            return;
        case ScanState::InOption:
            if (isWhitespace(byte)) {
                state = ScanState::Between;
            } else {
                pendingOption.push_back(c);
            }
            return;
        case ScanState::InValue:
            if (isWhitespace(byte)) {
                emit();
                state = ScanState::Between;
            } else {
                pendingValue.push_back(c);
            }
            return;
        case ScanState::InQuotedValue:
            if (byte == quote) {
                emit();
                state = ScanState::Between;
            } else {
                pendingValue.push_back(c);
            }
            return;
        }
    }

    std::vector<CommandLineEntry>& entries;
    std::string pendingOption;
    std::string pendingValue;
    ScanState state = ScanState::Between;
};

} // namespace

CommandLine::CommandLine(const std::string& tail) : emptyEntry{} {
    Tokenizer(entries).scan(tail);
}

std::uint32_t CommandLine::count() const {
    return static_cast<std::uint32_t>(entries.size());
}

const CommandLineEntry& CommandLine::entry(std::uint32_t index) const {
    return index < entries.size() ? entries[index] : emptyEntry;
}

} // namespace qoramark
