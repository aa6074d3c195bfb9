#include "platform/local_time.h"

#include <time.h>

namespace qoramark::platform {

bool toLocalTime(std::int64_t moment, std::tm& localTime) {
    const time_t value = static_cast<time_t>(moment);
    return localtime_r(&value, &localTime) != nullptr;
}

std::int64_t fromLocalTime(std::tm& localTime) {
    return static_cast<std::int64_t>(mktime(&localTime));
}

} // namespace qoramark::platform
