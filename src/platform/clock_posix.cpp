#include "platform/clock.h"

#include <ctime>

namespace qoramark::platform {

std::int64_t currentMoment() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace qoramark::platform
