// A sysfs tree and a device directory laid out as the kernel lays them out for USB serial
// bridges, in a directory of one's own: the kernel's ports can then be listed and opened
// without hardware, the device nodes being links to pseudo-terminals.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pz4::sim {

struct FakeUsbPort {
    std::string node;                   // e.g. "ttyUSB0"
    std::string product;                // the USB product string
    std::optional<std::string> serial;  // none: the device has no serial string
    std::string driver = "ftdi_sio";
    std::uint16_t vendorId = 0x0403;
    std::uint16_t productId = 0x6001;
};

class FakeSysfs {
  public:
    // Lays out root/sys and root/dev, creating what is missing.
    explicit FakeSysfs(std::filesystem::path root);

    std::string sysfsRoot() const { return (root_ / "sys").string(); }
    std::string devRoot() const { return (root_ / "dev").string(); }

    // Adds the port as plugging it in does: its USB device, its tty, and a device node that
    // links to target (a pseudo-terminal's slave).
    void plug(const FakeUsbPort& port, const std::string& target);
    // Removes what plug added for that node.
    void unplug(std::string_view node);

  private:
    std::filesystem::path usbDevice(std::string_view node) const;

    std::filesystem::path root_;
};

}  // namespace pz4::sim
