// Configures a simulated driver from the environment, so that the stand-in driver library
// can present chosen supplies to the unmodified program.
#pragma once

#include <string>

#include "sim/sim_driver.h"

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

// Adds what the settings describe to the driver. Malformed entries are skipped.
void configure(SimDriver& driver, const SimSettings& settings);

void configureFromEnvironment(SimDriver& driver);

}  // namespace pz4::sim
