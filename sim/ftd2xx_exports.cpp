// The stand-in driver library: FTDI's D2XX entry points by their own names, over one simulated
// driver in real time, configured from the environment on first use. A test that loads the
// library drives it through pz4sim_control.
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>

#include "link/d2xx.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "sim/sim_driver.h"
#include "sim/sim_environment.h"

#if defined(_WIN32)
#define PZ4SIM_EXPORT __declspec(dllexport)
#else
#define PZ4SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using pz4::DWORD;
using pz4::FT_DEVICE_LIST_INFO_NODE;
using pz4::FT_HANDLE;
using pz4::FT_STATUS;
using pz4::sim::SimDriver;

// Keeps a program running for hours from growing the log without end.
constexpr std::size_t kWireLogLimit = 4096;

struct Instance {
    std::unique_ptr<SimDriver> driver;
    pz4::D2xxEntries entries;
};

// Destroyed when the library is unloaded, so unloading leaves nothing behind.
Instance instance;
std::once_flag instanceOnce;

int control(SimDriver& driver, const std::string& line);

Instance& get() {
    std::call_once(instanceOnce, [] {
        instance.driver = std::make_unique<SimDriver>(pz4::platform::systemClock());
        instance.driver->wireLogLimit = kWireLogLimit;
        // Each run meets the bridge's timer at other moments, as a real one would.
        instance.driver->seedPhases(std::random_device{}());
        pz4::sim::configureFromEnvironment(*instance.driver);
        // Faults from the start, for a program that cannot call pz4sim_control itself.
        std::istringstream commands(pz4::platform::environmentText("PZ4SIM_CONTROL"));
        for (std::string command; std::getline(commands, command, ';');) {
            if (!command.empty() && control(*instance.driver, command) != 0) {
                std::fprintf(stderr, "pz4sim: PZ4SIM_CONTROL: cannot do \"%s\"\n", command.c_str());
            }
        }
        instance.entries = instance.driver->entries();
    });
    return instance;
}

bool parseFlag(const std::string& text, bool& flag) {
    if (text != "0" && text != "1") {
        return false;
    }
    flag = text == "1";
    return true;
}

int control(SimDriver& driver, const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    std::string serial;
    if (!(in >> verb >> serial)) {
        return -1;
    }
    const bool known = driver.withFaults(serial, [](pz4::sim::SimFaults&) {});
    if (!known) {
        return -1;
    }
    std::string a;
    std::string b;
    std::string c;
    std::string rest;
    if (verb == "unplug" || verb == "replug") {
        if (in >> rest) {
            return -1;
        }
        verb == "unplug" ? driver.unplug(serial) : driver.replug(serial);
        return 0;
    }
    if (verb == "silent" || verb == "err" || verb == "garbage" || verb == "refuse-sets") {
        bool on = false;
        if (!(in >> a) || !parseFlag(a, on) || (in >> rest)) {
            return -1;
        }
        driver.withFaults(serial, [&](pz4::sim::SimFaults& f) {
            bool& flag = verb == "silent"    ? f.silent
                         : verb == "err"     ? f.errReplies
                         : verb == "garbage" ? f.garbageReplies
                                             : f.refuseSets;
            flag = on;
        });
        return 0;
    }
    if (verb == "late" || verb == "lflag") {
        std::uint32_t ms = 0;
        if (!(in >> ms) || (in >> rest) || ms > 60000) {
            return -1;
        }
        driver.withFaults(serial, [&](pz4::sim::SimFaults& f) {
            (verb == "late" ? f.replyDelayMs : f.lfLagMs) = ms;
        });
        return 0;
    }
    if (verb == "stray") {
        // The bytes follow as hexadecimal pairs ("0a58" for LF and 'X'); "-" for none. They
        // come after every reply, as long after it as the optional gap says.
        std::string hex;
        std::uint32_t gapMs = 0;
        if (!(in >> hex) || (!(in >> gapMs) && !in.eof()) || (in >> rest) || gapMs > 60000) {
            return -1;
        }
        std::string bytes;
        if (hex != "-") {
            if (hex.size() % 2 != 0 || hex.size() > 128) {
                return -1;
            }
            for (std::size_t i = 0; i < hex.size(); i += 2) {
                unsigned value = 0;
                if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1) {
                    return -1;
                }
                bytes += static_cast<char>(value);
            }
        }
        driver.withFaults(serial, [&](pz4::sim::SimFaults& f) {
            f.strayBytes = bytes;
            f.strayGapMs = gapMs;
        });
        return 0;
    }
    if (verb == "state") {
        if (!(in >> a >> b >> c) || (in >> rest) || a.size() != 1 || a[0] < '0' || a[0] > '2' ||
            b.size() != 1 || c.size() != 1) {
            return -1;
        }
        const int ch = a[0] - '0';
        return driver.withSupply(serial,
                                 [&](pz4::sim::SimSupply& s) { s.setChannel(ch, b[0], c[0]); })
                   ? 0
                   : -1;
    }
    return -1;
}

}  // namespace

extern "C" {

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* handle) {
    return get().entries.FT_Open(deviceNumber, handle);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_Close(FT_HANDLE handle) {
    return get().entries.FT_Close(handle);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead,
                                              DWORD* read) {
    return get().entries.FT_Read(handle, buffer, toRead, read);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite,
                                               DWORD* written) {
    return get().entries.FT_Write(handle, buffer, toWrite, written);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
    return get().entries.FT_SetBaudRate(handle, baudRate);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_SetDataCharacteristics(FT_HANDLE handle,
                                                                std::uint8_t wordLength,
                                                                std::uint8_t stopBits,
                                                                std::uint8_t parity) {
    return get().entries.FT_SetDataCharacteristics(handle, wordLength, stopBits, parity);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return get().entries.FT_GetQueueStatus(handle, rxBytes);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes,
                                                           DWORD* count) {
    return get().entries.FT_GetDeviceInfoList(nodes, count);
}

PZ4SIM_EXPORT FT_STATUS PZ4_D2XX_CALL FT_CreateDeviceInfoList(DWORD* count) {
    return get().entries.FT_CreateDeviceInfoList(count);
}

// "unplug <serial>", "replug <serial>", "silent <serial> 0|1", "err <serial> 0|1",
// "garbage <serial> 0|1", "refuse-sets <serial> 0|1", "late <serial> <ms>", "lflag <serial> <ms>",
// "stray <serial> <hex bytes>|- [<gap ms>]", "state <serial> <ch> <stateChar> <modeChar>": 0 when
// done, -1 for a bad command or serial. PZ4SIM_CONTROL gives such commands, separated by ';', to
// do at the start.
PZ4SIM_EXPORT int pz4sim_control(const char* command) {
    if (command == nullptr) {
        return -1;
    }
    return control(*get().driver, command);
}

PZ4SIM_EXPORT int pz4sim_command_count(void) {
    return static_cast<int>(get().driver->commandCount());
}

PZ4SIM_EXPORT int pz4sim_misaddressed_count(void) {
    return static_cast<int>(get().driver->misaddressedCount());
}

}  // extern "C"
