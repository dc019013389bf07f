#include "cli/supplies.h"

#include <algorithm>
#include <cstdio>
#include "cli/json_text.h"

#include "cli/exit_codes.h"
#include "link/serial_ports.h"
#include "protocol/device_session.h"

namespace pz4::cli {

Driver openDriver() {
    Driver driver;
    driver.link = makeDriverLink(&driver.kind);
    return driver;
}

std::vector<ListedSupply> listSupplies(FtdiLink& link, DriverKind kind) {
    std::vector<ListedSupply> out;
    link.listDevices();
    for (const auto& s : link.listedSupplies()) {
        ListedSupply supply{s.serial, s.description, kind == DriverKind::Kernel ? "kernel" : "d2xx",
                            ""};
        if (kind == DriverKind::Kernel) {
#if defined(PZ4_KERNEL_PORTS)
            supply.port = portRootsFromEnvironment().dev + "/ttyUSB" + std::to_string(s.location);
#endif
        } else {
            std::array<char, 32> text{};
            std::snprintf(text.data(), text.size(), "location 0x%X",
                          static_cast<unsigned>(s.location));
            supply.port = text.data();
        }
        out.push_back(std::move(supply));
    }
    return out;
}

void printSupplies(const std::vector<ListedSupply>& supplies, bool json) {
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& s : supplies) {
            list.push_back({{"serial", s.serial},
                            {"description", s.description},
                            {"driver", s.driver},
                            {"port", s.port}});
        }
        std::printf("%s\n", jsonText(list, 2).c_str());
        return;
    }
    std::size_t width = 6;
    for (const auto& s : supplies) {
        width = std::max(width, s.serial.size());
    }
    std::printf("%-*s  %-6s  %-16s  %s\n", static_cast<int>(width), "serial", "driver", "port",
                "description");
    for (const auto& s : supplies) {
        std::printf("%-*s  %-6s  %-16s  %s\n", static_cast<int>(width), s.serial.c_str(),
                    s.driver.c_str(), s.port.c_str(), s.description.c_str());
    }
}

std::optional<std::string> chooseSupply(FtdiLink& link, DriverKind kind, const std::string& wanted,
                                        bool json, int& exitCode) {
    if (!link.driverLoaded()) {
        std::fprintf(stderr, "pz4ctl: the FTDI driver for the PZ4 was not found\n");
        exitCode = kExitError;
        return std::nullopt;
    }
    const std::vector<ListedSupply> supplies = listSupplies(link, kind);
    if (!wanted.empty()) {
        const bool attached = std::any_of(supplies.begin(), supplies.end(),
                                          [&](const auto& s) { return s.serial == wanted; });
        if (!attached) {
            std::fprintf(stderr, "pz4ctl: no supply with serial %s is attached\n", wanted.c_str());
            exitCode = kExitNoSupply;
            return std::nullopt;
        }
        return wanted;
    }
    if (supplies.empty()) {
        std::fprintf(stderr, "pz4ctl: no PZ4 supply is attached\n");
        exitCode = kExitNoSupply;
        return std::nullopt;
    }
    if (supplies.size() > 1) {
        std::fprintf(stderr, "pz4ctl: %zu supplies are attached; choose one with -s\n",
                     supplies.size());
        printSupplies(supplies, json);
        exitCode = kExitUsage;
        return std::nullopt;
    }
    return supplies.front().serial;
}

int reportOpenFailure(const FtdiLink& link, const std::string& serial) {
    switch (link.lastOpenStatus()) {
        case FT_DEVICE_NOT_OPENED:
            std::fprintf(stderr, "pz4ctl: supply %s is in use by another program\n",
                         serial.c_str());
            return kExitInUse;
        case FT_DEVICE_NOT_FOUND:
            std::fprintf(stderr, "pz4ctl: supply %s is no longer attached\n", serial.c_str());
            return kExitNoSupply;
        default:
            std::fprintf(stderr, "pz4ctl: supply %s cannot be opened (driver status %u)\n",
                         serial.c_str(), static_cast<unsigned>(link.lastOpenStatus()));
            return kExitError;
    }
}

}  // namespace pz4::cli
