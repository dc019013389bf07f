// Inside the simulated driver: one attached device with its queues, and a handle to it. Shared
// by the driver's bookkeeping and its entry points; nothing outside sim/ includes it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "link/d2xx.h"
#include "sim/bridge_rx.h"
#include "sim/sim_driver.h"
#include "sim/sim_supply.h"

namespace pz4::sim {

// 115200 baud, start bit + 8 data bits + stop bit.
inline constexpr double kByteMs = 10.0 * 1000.0 / 115200.0;

struct SimDriver::Device {
    std::string serial;
    std::string description;
    std::unique_ptr<SimSupply> supply;  // null for a device that is no supply
    SimFaults faults;
    bool attached = true;
    std::uint64_t generation = 0;  // bumped on replug: handles of an earlier attachment are dead
    Handle* openHandle = nullptr;
    std::uint32_t locId = 0;

    std::string input;  // bytes written after the last NUL
    std::deque<std::string> queuedReplies;
    // Unasked bytes and when the supply sends them; they take the line only then, so a reply
    // that is ready first goes out first.
    std::deque<std::pair<double, std::string>> strays;
    BridgeRx rx;
    double txFreeAtMs = 0.0;  // the host's line to the device is busy until then
    double rxFreeAtMs = 0.0;  // the device's line to the host is busy until then

    void dropPending() {
        input.clear();
        strays.clear();
        rx.clear();
        txFreeAtMs = 0.0;
        rxFreeAtMs = 0.0;
    }
};

struct SimDriver::Handle {
    Device* device;
    std::uint64_t generation;

    bool usable() const { return device->attached && device->generation == generation; }
};

}  // namespace pz4::sim
