#include "platform/clock.h"

#include <time.h>

namespace qoramark::platform {

// The 32-bit build's time_t is 32 bits wide; the 64-bit call keeps moments
// after 2038.
std::int64_t currentMoment() {
    return static_cast<std::int64_t>(_time64(nullptr));
}

} // namespace qoramark::platform
