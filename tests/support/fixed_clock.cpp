#include "support/fixed_clock.h"
#include "platform/clock.h"

namespace qoramark::platform {

namespace {

std::int64_t heldMoment = 0;

} // namespace

void holdClockAt(std::int64_t moment) {
    heldMoment = moment;
}

std::int64_t currentMoment() {
    return heldMoment;
}

} // namespace qoramark::platform
