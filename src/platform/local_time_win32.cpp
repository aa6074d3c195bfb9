#include "platform/local_time.h"

#include <time.h>

namespace qoramark::platform {

// The 64-bit forms, because the 32-bit build's time_t ends in 2038.
bool toLocalTime(std::int64_t moment, std::tm& localTime) {
    const __time64_t value = moment;
    const std::tm* converted = _localtime64(&value);
    if (converted == nullptr) {
        return false;
    }
    localTime = *converted;
    return true;
}

std::int64_t fromLocalTime(std::tm& localTime) {
    return _mktime64(&localTime);
}

} // namespace qoramark::platform
