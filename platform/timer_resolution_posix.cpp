#include "platform/timer_resolution.h"

namespace pz4::platform {

FineTimerResolution::FineTimerResolution() = default;

FineTimerResolution::~FineTimerResolution() = default;

}  // namespace pz4::platform
