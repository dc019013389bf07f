// Finding the supplies pz4ctl talks to: the driver the window would use, what it lists, and the
// one supply a command means.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/driver_choice.h"
#include "link/ftdi_link.h"

namespace pz4::cli {

struct ListedSupply {
    std::string serial;
    std::string description;
    std::string driver;  // "d2xx" or "kernel"
    std::string port;    // "/dev/ttyUSB0", or FTDI's location id ("location 0x1011")
};

struct Driver {
    std::unique_ptr<FtdiLink> link;
    DriverKind kind = DriverKind::D2xx;
};

// The driver as the window chooses it (PZ4_DRIVER, else FTDI's library, else the kernel's).
Driver openDriver();

std::vector<ListedSupply> listSupplies(FtdiLink& link, DriverKind kind);

// Prints the supplies as a table, or as a JSON array.
void printSupplies(const std::vector<ListedSupply>& supplies, bool json);

// The serial a command means: the one given, which must be attached, or else the only supply
// attached. Nothing, with a message on standard error and the exit code in exitCode, when there
// is none or more than one (then the list goes to standard output).
std::optional<std::string> chooseSupply(FtdiLink& link, DriverKind kind, const std::string& wanted,
                                        bool json, int& exitCode);

// The message and exit code for a supply the worker could not open.
int reportOpenFailure(const FtdiLink& link, const std::string& serial);

}  // namespace pz4::cli
