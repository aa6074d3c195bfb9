// The log block and the SWV record formed from long and odd field values.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "report/local_log.h"
#include "report/syslog_record.h"

namespace {

using namespace qoramark;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::int32_t takeNumber(const std::uint8_t*& data, std::size_t& size) {
    std::uint32_t number = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size) {
        number = number << 8 | *data;
    }
    return static_cast<std::int32_t>(number);
}

// The fields at zero bytes; missing ones stay empty.
std::vector<std::string> takeFields(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::vector<std::string> fields(count);
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (std::size_t i = 0; i < count && start <= input.size(); ++i) {
        const std::size_t end = std::min(input.find('\0', start), input.size());
        fields[i] = input.substr(start, end - start);
        start = end + 1;
    }
    return fields;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The whole record, as it would read without the buffer's limit.
std::string uncutRecord(const RunSettings& settings, const RunFacts& facts) {
    return "\"SWV\"," + quoted(facts.macAddress) + "," + quoted(facts.ipAddress) + "," +
           quoted(settings.appName) + "," + quoted(settings.appVersion) + "," +
           std::to_string(facts.runTime) + "," + quoted(facts.runDateString) + "," +
           std::to_string(facts.setupTime) + "," + quoted(facts.setupDateString) + "," +
           quoted(settings.setupVersion) + ",\"n/a\",\"n/a\"";
}

} // namespace

// Input: run time, setup time and run count (four bytes each), then the text
// fields separated by zero bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunSettings settings;
    RunFacts facts;
    facts.runTime = takeNumber(data, size);
    facts.setupTime = takeNumber(data, size);
    facts.runCount = static_cast<std::uint32_t>(takeNumber(data, size));
    const std::vector<std::string> fields = takeFields(data, size, 9);
    settings.appName = fields[0];
    settings.appVersion = fields[1];
    settings.setupVersion = fields[2];
    facts.macAddress = fields[3];
    facts.ipAddress = fields[4];
    facts.runDateString = fields[5];
    facts.setupDateString = fields[6];
    facts.samName = fields[7];
    facts.ndsName = fields[8];

    const std::vector<std::string> block = formatLocalLogBlock(settings, facts);
    check(block.size() == 12);
    for (const std::string& line : block) {
        check(line.starts_with(facts.runDateString));
    }
    check(block.front() == block.back());

    SyslogBuffer record;
    std::memset(record.data(), 0x55, record.size());
    formatSyslogRecord(settings, facts, record);
    const std::size_t length = strnlen(record.data(), record.size());
    check(length < record.size());
    const std::string uncut = uncutRecord(settings, facts);
    check(std::string(record.data(), length) == uncut.substr(0, record.size() - 1));
    return 0;
}
