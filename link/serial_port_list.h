// The kernel's FTDI serial ports as sysfs describes them: which ttyUSB nodes belong to an FTDI
// bridge, and what the bridge's USB device says about itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pz4 {

struct SerialPortInfo {
    std::string node;         // the device node's name, e.g. "ttyUSB0"
    std::string serial;       // the USB serial number; empty when the device has none
    std::string description;  // the USB product string
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// The ports of sysfsRoot/class/tty that the ftdi_sio driver serves, by tty number.
std::vector<SerialPortInfo> listFtdiPorts(const std::string& sysfsRoot);

}  // namespace pz4
