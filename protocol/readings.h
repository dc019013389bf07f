#pragma once

#include <array>
#include <cstdint>

namespace pz4 {

// The values of one numeric reply, channel by channel, and how many channels it carried.
struct Readings {
    std::array<std::int32_t, 3> values{};
    int count = 0;
};

}  // namespace pz4
