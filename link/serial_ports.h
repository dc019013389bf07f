// The kernel's serial ports as a driver: the nine entry points over the FTDI bridges that the
// kernel's ftdi_sio driver serves, so that no vendor library is needed on Linux.
#pragma once

#include <string>

#include "link/d2xx.h"

namespace pz4 {

// Where the kernel describes its devices and where their nodes are; tests and the demo point
// them at a tree of their own.
struct PortRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
};

// PZ4_SYSFS_ROOT and PZ4_DEV_ROOT from the environment, each defaulting as above.
PortRoots portRootsFromEnvironment();

// The nine entry points over the ports below roots. Like a driver library they act on one
// process-wide set of ports: a later call re-roots listing and opening for every table
// handed out, and ports already open stay open.
D2xxEntries serialPortEntries(const PortRoots& roots = portRootsFromEnvironment());

}  // namespace pz4
