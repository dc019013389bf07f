#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include "platform/timer_resolution.h"

namespace pz4::platform {
namespace {

constexpr UINT kPeriodMs = 1;

}  // namespace

// Requests are counted by the system, so nested guards and other users of the timer are safe
// as long as every request is released once.
FineTimerResolution::FineTimerResolution()
    : raised_(timeBeginPeriod(kPeriodMs) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution() {
    if (raised_) {
        timeEndPeriod(kPeriodMs);
    }
}

}  // namespace pz4::platform
