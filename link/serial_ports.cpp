#include "link/serial_ports.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "link/serial_port.h"
#include "link/serial_port_list.h"
#include "platform/environment.h"

namespace pz4 {
namespace {

// Process-wide, as a driver library's state is: the entry points take no context.
struct KernelPorts {
    std::mutex mutex;
    PortRoots roots;
    std::vector<SerialPortInfo> listed;  // as of the last FT_CreateDeviceInfoList
    // Handles are numbers never reused, so a stale handle never reaches a later port.
    std::map<std::uintptr_t, std::shared_ptr<SerialPort>> open;
    std::uintptr_t nextHandle = 1;
};

KernelPorts& ports() {
    static KernelPorts instance;
    return instance;
}

std::shared_ptr<SerialPort> portOf(FT_HANDLE handle) {
    KernelPorts& k = ports();
    std::lock_guard lock(k.mutex);
    const auto it = k.open.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == k.open.end() ? nullptr : it->second;
}

DWORD ttyNumber(std::string_view node) {
    const std::size_t digits = node.find_last_not_of("0123456789") + 1;
    DWORD number = 0;
    std::from_chars(node.data() + digits, node.data() + node.size(), number);
    return number;
}

FT_STATUS PZ4_D2XX_CALL createDeviceInfoList(DWORD* count) {
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    KernelPorts& k = ports();
    std::lock_guard lock(k.mutex);
    k.listed = listFtdiPorts(k.roots.sysfs);
    *count = static_cast<DWORD>(k.listed.size());
    return FT_OK;
}

// count holds the room in nodes on entry and the number filled on return.
FT_STATUS PZ4_D2XX_CALL getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, DWORD* count) {
    if (nodes == nullptr || count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    KernelPorts& k = ports();
    std::lock_guard lock(k.mutex);
    const DWORD filled = std::min<DWORD>(*count, static_cast<DWORD>(k.listed.size()));
    for (DWORD i = 0; i < filled; ++i) {
        const SerialPortInfo& port = k.listed[i];
        FT_DEVICE_LIST_INFO_NODE& node = nodes[i];
        std::memset(&node, 0, sizeof node);
        node.ID = static_cast<std::uint32_t>(port.vendorId) << 16 | port.productId;
        // The port's place: its tty number, as in /dev/ttyUSB<n>.
        node.LocId = ttyNumber(port.node);
        copyNodeText(node.SerialNumber, sizeof node.SerialNumber, port.serial);
        copyNodeText(node.Description, sizeof node.Description, port.description);
    }
    *count = filled;
    return FT_OK;
}

FT_STATUS PZ4_D2XX_CALL openPort(int index, FT_HANDLE* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    KernelPorts& k = ports();
    std::lock_guard lock(k.mutex);
    if (index < 0 || static_cast<std::size_t>(index) >= k.listed.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    const std::string path = k.roots.dev + '/' + k.listed[static_cast<std::size_t>(index)].node;
    auto port = std::make_shared<SerialPort>(path.c_str());
    if (!port->isOpen()) {
        // As FTDI's library says of a device another program holds; anything else is another
        // failure (no permission, no such node).
        return port->heldElsewhere() ? FT_DEVICE_NOT_OPENED : FT_OTHER_ERROR;
    }
    const std::uintptr_t id = k.nextHandle++;
    k.open.emplace(id, std::move(port));
    *handle = reinterpret_cast<FT_HANDLE>(id);
    return FT_OK;
}

FT_STATUS PZ4_D2XX_CALL closePort(FT_HANDLE handle) {
    std::shared_ptr<SerialPort> port;
    {
        KernelPorts& k = ports();
        std::lock_guard lock(k.mutex);
        const auto it = k.open.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == k.open.end()) {
            return FT_INVALID_HANDLE;
        }
        port = std::move(it->second);
        k.open.erase(it);
    }
    return FT_OK;  // the port closes here, outside the lock
}

FT_STATUS PZ4_D2XX_CALL readPort(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* read) {
    const auto port = portOf(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (read == nullptr || (buffer == nullptr && toRead > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *read = 0;
    std::size_t got = 0;
    const bool ok = port->read({static_cast<char*>(buffer), toRead}, got);
    *read = static_cast<DWORD>(got);
    return ok ? FT_OK : FT_IO_ERROR;
}

FT_STATUS PZ4_D2XX_CALL writePort(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written) {
    const auto port = portOf(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (written == nullptr || (buffer == nullptr && toWrite > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *written = 0;
    std::size_t sent = 0;
    const bool ok = port->write({static_cast<const char*>(buffer), toWrite}, sent);
    *written = static_cast<DWORD>(sent);
    return ok ? FT_OK : FT_IO_ERROR;
}

FT_STATUS PZ4_D2XX_CALL setBaudRate(FT_HANDLE handle, std::uint32_t rate) {
    const auto port = portOf(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (port->gone()) {
        return FT_IO_ERROR;
    }
    return port->setBaudRate(rate) ? FT_OK : FT_INVALID_BAUD_RATE;
}

FT_STATUS PZ4_D2XX_CALL setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                               std::uint8_t stopBits, std::uint8_t parity) {
    const auto port = portOf(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (port->gone()) {
        return FT_IO_ERROR;
    }
    return port->setDataCharacteristics(wordLength, stopBits, parity) ? FT_OK
                                                                      : FT_INVALID_PARAMETER;
}

// On failure the count is left as it was, as the vendor's library leaves it.
FT_STATUS PZ4_D2XX_CALL getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    const auto port = portOf(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    std::uint32_t waiting = 0;
    if (!port->waiting(waiting)) {
        return FT_IO_ERROR;
    }
    *rxBytes = waiting;
    return FT_OK;
}

std::string environmentOr(const char* name, const char* fallback) {
    const std::string value = platform::environmentText(name);
    return value.empty() ? fallback : value;
}

}  // namespace

PortRoots portRootsFromEnvironment() {
    return {environmentOr("PZ4_SYSFS_ROOT", "/sys"), environmentOr("PZ4_DEV_ROOT", "/dev")};
}

D2xxEntries serialPortEntries(const PortRoots& roots) {
    {
        KernelPorts& k = ports();
        std::lock_guard lock(k.mutex);
        k.roots = roots;
    }
    D2xxEntries e;
    e.FT_Open = &openPort;
    e.FT_Close = &closePort;
    e.FT_Read = &readPort;
    e.FT_Write = &writePort;
    e.FT_SetBaudRate = &setBaudRate;
    e.FT_SetDataCharacteristics = &setDataCharacteristics;
    e.FT_GetQueueStatus = &getQueueStatus;
    e.FT_GetDeviceInfoList = &getDeviceInfoList;
    e.FT_CreateDeviceInfoList = &createDeviceInfoList;
    return e;
}

}  // namespace pz4
