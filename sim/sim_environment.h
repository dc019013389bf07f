// Configures a simulated driver from the environment, so that the stand-in driver library
// can present chosen supplies to the unmodified program.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_driver.h"
#include "sim/sim_supply.h"

namespace pz4::sim {

// The settings as texts; an empty text means the setting is absent.
//   supplies       PZ4SIM_SUPPLIES       "42=1U,1I,0U;1234567=1U@500,2U,1U;77"
//   otherDevices   PZ4SIM_OTHER          "A1:FT232R USB UART;B2:Some Adapter"
//   extraDevices   PZ4SIM_EXTRA_DEVICES  "45"
//   noise          PZ4SIM_NOISE          "2"
//   logPath        PZ4SIM_LOG            "/tmp/pz4sim.log"
//   latencyMs      PZ4SIM_LATENCY_MS     "16" (the bridge's latency timer; 0: byte by byte)
//   seed           PZ4SIM_SEED           "7" (the timer phases of the opens)
struct SimSettings {
    std::string supplies;
    std::string otherDevices;
    std::string extraDevices;
    std::string noise;
    std::string logPath;
    std::string latencyMs;
    std::string seed;
};

SimSettings settingsFromEnvironment();

// What the settings describe, checked, for any simulator to set up.
struct ChannelPlan {
    char state = '1';
    char mode = 'U';
    double volts = 0.0;
};
struct SupplyPlan {
    std::string serial;
    std::array<ChannelPlan, 3> channels;
};
struct OtherDevicePlan {
    std::string serial;
    std::string description;
};
struct SimPlan {
    std::vector<SupplyPlan> supplies;
    std::vector<OtherDevicePlan> otherDevices;
    int extraDevices = -1;  // -1: not set
    int noise = 0;
    std::string logPath;
};

// Malformed entries are left out.
SimPlan planFrom(const SimSettings& settings);

// Gives a supply its planned channels; readings start at 0 V and ramp to the set voltage.
void setUpSupply(SimSupply& supply, const SupplyPlan& plan, int noise, std::uint64_t nowMs);

// One line of the command log: the tick, the serial and the command, escaped so that every
// command stays on its line.
std::string commandLogLine(std::uint64_t tickMs, std::string_view serial, std::string_view command);

// Adds what the settings describe to the driver. Malformed entries are skipped.
void configure(SimDriver& driver, const SimSettings& settings);

void configureFromEnvironment(SimDriver& driver);

}  // namespace pz4::sim
