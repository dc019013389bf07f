#include "link/serial_port_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>

namespace pz4 {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kNodePrefix = "ttyUSB";
constexpr std::string_view kFtdiDriver = "ftdi_sio";
// More than any bus holds; a tree with more is not a machine's.
constexpr std::size_t kMaxPorts = 1024;

// A sysfs attribute's text without the line end the kernel appends; empty when it is missing.
// Attributes of interest are short, so a bounded read suffices.
std::string readAttribute(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::array<char, 256> buffer;
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    if (n <= 0) {
        return {};
    }
    std::string_view text(buffer.data(), static_cast<std::size_t>(n));
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::uint16_t hexAttribute(const fs::path& path) {
    const std::string text = readAttribute(path);
    std::uint16_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return value;
}

std::optional<unsigned> ttyNumber(std::string_view name) {
    if (!name.starts_with(kNodePrefix) || name.size() == kNodePrefix.size()) {
        return std::nullopt;
    }
    name.remove_prefix(kNodePrefix.size());
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (ec != std::errc{} || end != name.data() + name.size()) {
        return std::nullopt;
    }
    return number;
}

bool isInside(const fs::path& root, const fs::path& path) {
    const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end();
}

// The USB device above a port: the nearest ancestor with a vendor id, within the tree.
std::optional<fs::path> usbDeviceOf(const fs::path& root, const fs::path& port) {
    for (fs::path dir = port.parent_path(); isInside(root, dir) && dir != root;
         dir = dir.parent_path()) {
        std::error_code ec;
        if (fs::exists(dir / "idVendor", ec)) {
            return dir;
        }
    }
    return std::nullopt;
}

struct Found {
    unsigned number;
    SerialPortInfo info;
};

std::optional<Found> describe(const fs::path& root, const fs::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    const auto number = ttyNumber(name);
    if (!number) {
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path port = fs::canonical(entry.path() / "device", ec);
    if (ec || !isInside(root, port)) {
        return std::nullopt;
    }
    const fs::path driver = fs::read_symlink(port / "driver", ec);
    if (ec || driver.filename() != kFtdiDriver) {
        return std::nullopt;
    }
    Found found{*number, {name, {}, {}, 0, 0}};
    if (const auto usb = usbDeviceOf(root, port)) {
        found.info.serial = readAttribute(*usb / "serial");
        found.info.description = readAttribute(*usb / "product");
        found.info.vendorId = hexAttribute(*usb / "idVendor");
        found.info.productId = hexAttribute(*usb / "idProduct");
    }
    return found;
}

}  // namespace

std::vector<SerialPortInfo> listFtdiPorts(const std::string& sysfsRoot) {
    std::error_code ec;
    const fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec) {
        return {};
    }
    std::vector<Found> found;
    for (fs::directory_iterator it(root / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (auto port = describe(root, *it)) {
            found.push_back(std::move(*port));
            if (found.size() == kMaxPorts) {
                break;
            }
        }
    }
    // The directory's order is arbitrary; the tty number is what a user sees and what stays.
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.number < b.number; });
    std::vector<SerialPortInfo> ports;
    ports.reserve(found.size());
    for (auto& f : found) {
        ports.push_back(std::move(f.info));
    }
    return ports;
}

}  // namespace pz4
