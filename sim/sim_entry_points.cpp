// The nine entry points of the simulated driver: plain functions, as a driver library exports
// them, that reach the driver made current last and hold its lock for the whole call.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "sim/sim_device.h"
#include "sim/sim_driver.h"

namespace pz4::sim {
namespace {

constexpr std::string_view kExtraDescription = "FT232R USB UART";
constexpr std::uint32_t kFlagOpened = 1;
constexpr std::uint32_t kTypeFt232r = 5;
constexpr std::uint32_t kIdFt232r = 0x04036001;  // vendor 0403, product 6001

std::atomic<SimDriver*> currentDriver{nullptr};

}  // namespace

struct SimEntryPoints {
    // Runs fn on the driver made current last, under its lock for the whole call.
    template <typename Fn>
    static FT_STATUS withDriver(FT_STATUS noDriver, Fn&& fn) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return noDriver;
        }
        std::lock_guard lock(d->mutex_);
        return fn(*d);
    }

    // ... and on one of its open handles; an unknown or closed handle fails.
    template <typename Fn>
    static FT_STATUS withHandle(FT_HANDLE handle, Fn&& fn) {
        return withDriver(FT_INVALID_HANDLE, [&](SimDriver& d) {
            SimDriver::Handle* h = d.liveHandle(handle);
            return h == nullptr ? FT_INVALID_HANDLE : fn(d, *h);
        });
    }

    static FT_STATUS PZ4_D2XX_CALL createDeviceInfoList(DWORD* count) {
        if (count == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        return withDriver(FT_IO_ERROR, [&](SimDriver& d) {
            if (d.driverFaults_.failCreateList) {
                return FT_IO_ERROR;
            }
            d.listSnapshot_.clear();
            for (const auto& device : d.devices_) {
                if (device->attached) {
                    d.listSnapshot_.push_back({device.get(), device->serial});
                }
            }
            for (int i = 1; i <= d.driverFaults_.extraReportedNodes; ++i) {
                char serial[16];
                std::snprintf(serial, sizeof serial, "X%04d", i);
                d.listSnapshot_.push_back({nullptr, serial});
            }
            *count = static_cast<DWORD>(d.listSnapshot_.size());
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes,
                                                     DWORD* count) {
        if (nodes == nullptr || count == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        return withDriver(FT_IO_ERROR, [&](SimDriver& d) {
            // As many nodes as the last listing counted, whatever room the caller has.
            DWORD filled = 0;
            for (const auto& entry : d.listSnapshot_) {
                FT_DEVICE_LIST_INFO_NODE& node = nodes[filled];
                std::memset(&node, 0, sizeof node);
                node.Type = kTypeFt232r;
                node.ID = kIdFt232r;
                node.LocId = 0x2000 + filled;
                copyNodeText(node.SerialNumber, sizeof node.SerialNumber, entry.serial);
                if (entry.device != nullptr) {
                    const auto& dev = *entry.device;
                    node.LocId = dev.locId;
                    copyNodeText(node.Description, sizeof node.Description, dev.description);
                    if (dev.openHandle != nullptr) {
                        node.Flags |= kFlagOpened;
                        node.ftHandle = dev.openHandle;
                    }
                } else {
                    copyNodeText(node.Description, sizeof node.Description, kExtraDescription);
                }
                ++filled;
            }
            *count = filled;
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL open(int index, FT_HANDLE* handle) {
        if (handle == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        return withDriver(FT_DEVICE_NOT_FOUND, [&](SimDriver& d) {
            if (index < 0 || static_cast<std::size_t>(index) >= d.listSnapshot_.size()) {
                return FT_DEVICE_NOT_FOUND;
            }
            SimDriver::Device* device = d.listSnapshot_[static_cast<std::size_t>(index)].device;
            if (device == nullptr) {
                return FT_DEVICE_NOT_OPENED;  // a reported node with no device behind it
            }
            if (!device->attached) {
                return FT_DEVICE_NOT_FOUND;
            }
            if (device->openHandle != nullptr || device->faults.failOpen) {
                return FT_DEVICE_NOT_OPENED;
            }
            d.handles_.push_back(
                std::make_unique<SimDriver::Handle>(SimDriver::Handle{device, device->generation}));
            SimDriver::Handle* h = d.handles_.back().get();
            d.openHandles_.insert(h);
            device->openHandle = h;
            device->dropPending();
            device->rx.setLatencyTimer(d.latencyTimerMs, d.nextPhase());
            d.log(WireKind::Open, *device, {}, static_cast<std::uint32_t>(index));
            *handle = h;
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL close(FT_HANDLE handle) {
        return withHandle(handle, [](SimDriver& d, SimDriver::Handle& h) {
            d.openHandles_.erase(&h);
            if (h.device->openHandle == &h) {
                h.device->openHandle = nullptr;
            }
            d.log(WireKind::Close, *h.device, {});
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL setBaudRate(FT_HANDLE handle, std::uint32_t rate) {
        return withHandle(handle, [&](SimDriver& d, SimDriver::Handle& h) {
            if (!h.usable()) {
                return FT_IO_ERROR;
            }
            d.log(WireKind::SetBaudRate, *h.device, {}, rate);
            return h.device->faults.failSetBaudRate ? FT_IO_ERROR : FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL setDataCharacteristics(FT_HANDLE handle, std::uint8_t bits,
                                                          std::uint8_t stop, std::uint8_t parity) {
        return withHandle(handle, [&](SimDriver& d, SimDriver::Handle& h) {
            if (!h.usable()) {
                return FT_IO_ERROR;
            }
            const std::uint32_t value = static_cast<std::uint32_t>(bits) << 16 |
                                        static_cast<std::uint32_t>(stop) << 8 | parity;
            d.log(WireKind::SetDataCharacteristics, *h.device, {}, value);
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL write(FT_HANDLE handle, void* buffer, DWORD toWrite,
                                         DWORD* written) {
        return withHandle(handle, [&](SimDriver& d, SimDriver::Handle& h) {
            if (written == nullptr || (buffer == nullptr && toWrite > 0)) {
                return FT_INVALID_PARAMETER;
            }
            *written = 0;
            if (!h.usable() || h.device->faults.failWrite) {
                return FT_IO_ERROR;
            }
            SimDriver::Device& device = *h.device;
            // A short write really leaves its last byte unsent.
            const DWORD sent = device.faults.shortWrite && toWrite > 0 ? toWrite - 1 : toWrite;
            const char* bytes = static_cast<const char*>(buffer);
            if (sent > 0) {
                d.log(WireKind::Write, device, std::string(bytes, sent));
            }
            const double start =
                std::max(device.txFreeAtMs, static_cast<double>(d.clock_.tickMs()));
            for (DWORD i = 0; i < sent; ++i) {
                if (bytes[i] != '\0') {
                    device.input.push_back(bytes[i]);
                    if (device.input.size() > kMaxCommandBytes) {
                        device.input.clear();
                    }
                    continue;
                }
                std::string command = std::move(device.input);
                device.input.clear();
                d.receiveCommand(device, std::move(command), start + (i + 1) * kByteMs);
            }
            device.txFreeAtMs = start + sent * kByteMs;
            *written = sent;
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL getQueueStatus(FT_HANDLE handle, DWORD* count) {
        return withHandle(handle, [&](SimDriver& d, SimDriver::Handle& h) {
            if (count == nullptr) {
                return FT_INVALID_PARAMETER;
            }
            if (!h.usable()) {
                return FT_IO_ERROR;
            }
            const std::uint64_t now = d.clock_.tickMs();
            d.releaseStrays(*h.device, static_cast<double>(now));
            *count = static_cast<DWORD>(h.device->rx.available(now));
            return FT_OK;
        });
    }

    static FT_STATUS PZ4_D2XX_CALL read(FT_HANDLE handle, void* buffer, DWORD toRead,
                                        DWORD* readCount) {
        return withHandle(handle, [&](SimDriver& d, SimDriver::Handle& h) {
            if (readCount == nullptr || (buffer == nullptr && toRead > 0)) {
                return FT_INVALID_PARAMETER;
            }
            *readCount = 0;
            if (!h.usable() || h.device->faults.failRead) {
                return FT_IO_ERROR;
            }
            SimDriver::Device& device = *h.device;
            const std::uint64_t now = d.clock_.tickMs();
            d.releaseStrays(device, static_cast<double>(now));
            std::size_t n = std::min<std::size_t>(toRead, device.rx.available(now));
            if (device.faults.maxReadBytes != 0) {
                n = std::min<std::size_t>(n, device.faults.maxReadBytes);
            }
            std::string bytes(n, '\0');
            for (std::size_t i = 0; i < n; ++i) {
                bytes[i] = device.rx.take();
            }
            if (n > 0) {
                std::memcpy(buffer, bytes.data(), n);
            }
            *readCount = static_cast<DWORD>(n);
            d.log(WireKind::Read, device, std::move(bytes));
            return FT_OK;
        });
    }
};

D2xxEntries SimDriver::entries() {
    currentDriver.store(this);
    D2xxEntries e;
    e.FT_Open = &SimEntryPoints::open;
    e.FT_Close = &SimEntryPoints::close;
    e.FT_Read = &SimEntryPoints::read;
    e.FT_Write = &SimEntryPoints::write;
    e.FT_SetBaudRate = &SimEntryPoints::setBaudRate;
    e.FT_SetDataCharacteristics = &SimEntryPoints::setDataCharacteristics;
    e.FT_GetQueueStatus = &SimEntryPoints::getQueueStatus;
    e.FT_GetDeviceInfoList = &SimEntryPoints::getDeviceInfoList;
    e.FT_CreateDeviceInfoList = &SimEntryPoints::createDeviceInfoList;
    return e;
}

SimDriver::~SimDriver() {
    SimDriver* self = this;
    currentDriver.compare_exchange_strong(self, nullptr);
}

}  // namespace pz4::sim
