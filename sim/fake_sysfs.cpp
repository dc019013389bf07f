#include "sim/fake_sysfs.h"

#include <cstdio>
#include <fstream>

namespace pz4::sim {
namespace fs = std::filesystem;
namespace {

void writeAttribute(const fs::path& path, std::string_view text) {
    std::ofstream(path) << text << '\n';
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

FakeSysfs::FakeSysfs(fs::path root) : root_(std::move(root)) {
    fs::create_directories(root_ / "sys" / "class" / "tty");
    fs::create_directories(root_ / "sys" / "devices" / "usb1");
    fs::create_directories(root_ / "dev");
}

// One USB device per node, named after it so that unplugging finds it again.
fs::path FakeSysfs::usbDevice(std::string_view node) const {
    return root_ / "sys" / "devices" / "usb1" / ("1-" + std::string(node));
}

void FakeSysfs::plug(const FakeUsbPort& port, const std::string& target) {
    unplug(port.node);
    const fs::path usb = usbDevice(port.node);
    const std::string usbName = usb.filename().string();
    // The kernel's shape: usb device / interface / port / tty / node, the class entry and the
    // port's driver as links.
    const fs::path portDir = usb / (usbName + ":1.0") / port.node;
    const fs::path ttyDir = portDir / "tty" / port.node;
    fs::create_directories(ttyDir);
    writeAttribute(usb / "idVendor", hex4(port.vendorId));
    writeAttribute(usb / "idProduct", hex4(port.productId));
    writeAttribute(usb / "product", port.product);
    if (port.serial) {
        writeAttribute(usb / "serial", *port.serial);
    }
    const fs::path drivers = root_ / "sys" / "bus" / "usb-serial" / "drivers" / port.driver;
    fs::create_directories(drivers);
    fs::create_directory_symlink("../../../../../bus/usb-serial/drivers/" + port.driver,
                                 portDir / "driver");
    fs::create_directory_symlink("../../../" + port.node, ttyDir / "device");
    fs::create_directory_symlink(
        "../../devices/usb1/" + usbName + "/" + usbName + ":1.0/" + port.node + "/tty/" + port.node,
        root_ / "sys" / "class" / "tty" / port.node);
    fs::create_symlink(target, root_ / "dev" / port.node);
}

void FakeSysfs::unplug(std::string_view node) {
    std::error_code ec;
    fs::remove(root_ / "dev" / node, ec);
    fs::remove(root_ / "sys" / "class" / "tty" / node, ec);
    fs::remove_all(usbDevice(node), ec);
}

}  // namespace pz4::sim
