#include "sim/sim_driver.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

namespace pz4::sim {
namespace {

// The driver's status codes that the stand-in hands out.
constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr FT_STATUS kDeviceNotOpened = 3;
constexpr FT_STATUS kIoError = 4;
constexpr FT_STATUS kInvalidParameter = 6;

constexpr std::string_view kSupplyDescription = "High Voltage PZ4";
constexpr std::string_view kExtraDescription = "FT232R USB UART";
constexpr std::uint32_t kFlagOpened = 1;
constexpr std::uint32_t kTypeFt232r = 5;
constexpr std::uint32_t kIdFt232r = 0x04036001;  // vendor 0403, product 6001

// 115200 baud, start bit + 8 data bits + stop bit.
constexpr double kByteMs = 10.0 * 1000.0 / 115200.0;
// A device does not buffer an unterminated command without end.
constexpr std::size_t kMaxPendingInput = 4096;
constexpr std::size_t kGarbageLength = 40;

std::atomic<SimDriver*> currentDriver{nullptr};

void copyField(char* field, std::size_t size, std::string_view text) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// Bytes no reply consists of: all above 0x7F, so none is a line end.
std::string garbage() {
    std::string bytes(kGarbageLength, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(0x80 | ((i * 37 + 11) & 0x7F));
    }
    return bytes;
}

}  // namespace

struct SimDriver::Device {
    struct RxByte {
        double readyAtMs;
        char byte;
    };

    std::string serial;
    std::string description;
    std::unique_ptr<SimSupply> supply;  // null for a device that is no supply
    SimFaults faults;
    bool attached = true;
    std::uint64_t generation = 0;  // bumped on replug: handles of an earlier attachment are dead
    Handle* openHandle = nullptr;
    std::uint32_t locId = 0;

    std::string input;  // bytes written after the last NUL
    std::deque<std::string> queuedReplies;
    std::deque<RxByte> rx;  // in arrival order; readyAtMs never decreases
    double txFreeAtMs = 0.0;
    double rxFreeAtMs = 0.0;

    void dropPending() {
        input.clear();
        rx.clear();
        txFreeAtMs = 0.0;
        rxFreeAtMs = 0.0;
    }

    std::size_t readable(std::uint64_t nowMs) const {
        const double now = static_cast<double>(nowMs);
        std::size_t n = 0;
        while (n < rx.size() && rx[n].readyAtMs <= now) {
            ++n;
        }
        return n;
    }
};

struct SimDriver::Handle {
    Device* device;
    std::uint64_t generation;

    bool usable() const { return device->attached && device->generation == generation; }
};

SimDriver::SimDriver(platform::Clock& clock) : clock_(clock) {}

SimDriver::~SimDriver() {
    SimDriver* self = this;
    currentDriver.compare_exchange_strong(self, nullptr);
}

SimSupply& SimDriver::addSupply(const std::string& serial) {
    std::lock_guard lock(mutex_);
    auto device = std::make_unique<Device>();
    device->serial = serial;
    device->description = std::string(kSupplyDescription);
    device->supply = std::make_unique<SimSupply>(serial);
    device->locId = 0x1000 + static_cast<std::uint32_t>(devices_.size());
    SimSupply& supply = *device->supply;
    devices_.push_back(std::move(device));
    return supply;
}

void SimDriver::addOtherDevice(const std::string& serial, const std::string& description) {
    std::lock_guard lock(mutex_);
    auto device = std::make_unique<Device>();
    device->serial = serial;
    device->description = description;
    device->locId = 0x1000 + static_cast<std::uint32_t>(devices_.size());
    devices_.push_back(std::move(device));
}

SimDriver::Device* SimDriver::findDevice(std::string_view serial) {
    return const_cast<Device*>(std::as_const(*this).findDevice(serial));
}

// With several devices of one serial, the attached one is meant.
const SimDriver::Device* SimDriver::findDevice(std::string_view serial) const {
    const Device* detached = nullptr;
    for (const auto& d : devices_) {
        if (d->serial == serial) {
            if (d->attached) {
                return d.get();
            }
            if (detached == nullptr) {
                detached = d.get();
            }
        }
    }
    return detached;
}

void SimDriver::unplug(std::string_view serial) {
    std::lock_guard lock(mutex_);
    Device* d = findDevice(serial);
    if (d == nullptr || !d->attached) {
        return;
    }
    d->attached = false;
    // Its handle stays known (closing it still works) but fails every transfer.
    d->openHandle = nullptr;
}

void SimDriver::replug(std::string_view serial) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const auto& d) { return d->serial == serial && !d->attached; });
    if (it == devices_.end()) {
        return;
    }
    std::unique_ptr<Device> device = std::move(*it);
    devices_.erase(it);
    device->attached = true;
    ++device->generation;
    device->dropPending();
    devices_.push_back(std::move(device));
}

SimSupply* SimDriver::supply(std::string_view serial) {
    std::lock_guard lock(mutex_);
    Device* d = findDevice(serial);
    return d != nullptr ? d->supply.get() : nullptr;
}

SimSupply* SimDriver::supplyNow(std::string_view serial) {
    SimSupply* s = supply(serial);
    if (s != nullptr) {
        s->update(clock_.tickMs());
    }
    return s;
}

SimFaults& SimDriver::faults(std::string_view serial) {
    std::lock_guard lock(mutex_);
    SimFaults* f = findFaults(serial);
    if (f == nullptr) {
        throw std::invalid_argument("no simulated device with serial " + std::string(serial));
    }
    return *f;
}

SimFaults* SimDriver::findFaults(std::string_view serial) {
    Device* d = findDevice(serial);
    return d != nullptr ? &d->faults : nullptr;
}

bool SimDriver::setFaults(std::string_view serial, const SimFaults& faults) {
    return withFaults(serial, [&](SimFaults& f) { f = faults; });
}

SimFaults SimDriver::faultsOf(std::string_view serial) const {
    std::lock_guard lock(mutex_);
    const Device* d = findDevice(serial);
    return d != nullptr ? d->faults : SimFaults{};
}

void SimDriver::setDriverFaults(const SimDriverFaults& faults) {
    std::lock_guard lock(mutex_);
    driverFaults_ = faults;
}

void SimDriver::queueReply(std::string_view serial, std::string raw) {
    std::lock_guard lock(mutex_);
    if (Device* d = findDevice(serial)) {
        d->queuedReplies.push_back(std::move(raw));
    }
}

void SimDriver::injectBytes(std::string_view serial, std::string raw) {
    std::lock_guard lock(mutex_);
    Device* d = findDevice(serial);
    if (d == nullptr) {
        return;
    }
    // They arrive now, ahead of reply bytes still on their way.
    const std::uint64_t now = clock_.tickMs();
    const auto at = d->rx.begin() + static_cast<std::ptrdiff_t>(d->readable(now));
    std::vector<Device::RxByte> bytes;
    bytes.reserve(raw.size());
    for (char c : raw) {
        bytes.push_back({static_cast<double>(now), c});
    }
    d->rx.insert(at, bytes.begin(), bytes.end());
}

std::vector<WireEvent> SimDriver::wireLog() const {
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

void SimDriver::clearWireLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
    commands_.clear();
}

std::vector<std::string> SimDriver::commands() const {
    std::lock_guard lock(mutex_);
    return {commands_.begin(), commands_.end()};
}

std::uint64_t SimDriver::commandCount() const {
    std::lock_guard lock(mutex_);
    return commandCount_;
}

int SimDriver::openHandleCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(openHandles_.size());
}

void SimDriver::setCommandObserver(CommandObserver observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

SimDriver::Handle* SimDriver::liveHandle(FT_HANDLE handle) {
    auto* h = static_cast<Handle*>(handle);
    return openHandles_.contains(h) ? h : nullptr;
}

void SimDriver::log(WireKind kind, const Device& device, std::string bytes, std::uint32_t value) {
    log_.push_back({clock_.tickMs(), kind, device.serial, std::move(bytes), value});
    if (wireLogLimit != 0 && log_.size() > wireLogLimit) {
        log_.pop_front();
    }
}

void SimDriver::receiveCommand(Device& device, std::string command, double doneAtMs) {
    const std::uint64_t now = clock_.tickMs();
    ++commandCount_;
    if (observer_) {
        observer_(now, device.serial, command);
    }
    commands_.push_back(command);
    if (wireLogLimit != 0 && commands_.size() > wireLogLimit) {
        commands_.pop_front();
    }
    if (device.supply == nullptr || device.faults.silent) {
        return;
    }
    std::string reply;
    if (!device.queuedReplies.empty()) {
        reply = std::move(device.queuedReplies.front());
        device.queuedReplies.pop_front();
    } else if (device.faults.errReplies) {
        reply = "ERR\r\n";
    } else {
        auto answer = device.supply->handleCommand(command, now);
        if (!answer) {
            return;
        }
        // The supply did act on the command; only its answer is lost on the way back.
        reply = device.faults.garbageReplies ? garbage() : std::move(*answer);
    }
    scheduleReply(device, device.faults.replyPrefix + reply, doneAtMs + replyLatencyMs);
}

void SimDriver::scheduleReply(Device& device, const std::string& reply, double startMs) {
    if (reply.empty()) {
        return;
    }
    const std::size_t pieces = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::max(device.faults.pieces, 1)), 1, reply.size());
    double t = std::max(startMs, device.rxFreeAtMs);
    for (std::size_t piece = 0; piece < pieces; ++piece) {
        if (piece > 0) {
            t += device.faults.pieceGapMs;
        }
        const std::size_t begin = piece * reply.size() / pieces;
        const std::size_t end = (piece + 1) * reply.size() / pieces;
        for (std::size_t i = begin; i < end; ++i) {
            t += kByteMs;
            device.rx.push_back({t, reply[i]});
        }
    }
    device.rxFreeAtMs = t;
}

// The plain functions handed out as entry points; each reaches the current driver and holds
// its lock for the whole call.
struct SimEntryPoints {
    using Lock = std::lock_guard<std::recursive_mutex>;

    static FT_STATUS PZ4_D2XX_CALL createDeviceInfoList(DWORD* count) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kIoError;
        }
        if (count == nullptr) {
            return kInvalidParameter;
        }
        Lock lock(d->mutex_);
        if (d->driverFaults_.failCreateList) {
            return kIoError;
        }
        d->listSnapshot_.clear();
        for (const auto& device : d->devices_) {
            if (device->attached) {
                d->listSnapshot_.push_back({device.get(), device->serial});
            }
        }
        for (int i = 1; i <= d->driverFaults_.extraReportedNodes; ++i) {
            char serial[16];
            std::snprintf(serial, sizeof serial, "X%04d", i);
            d->listSnapshot_.push_back({nullptr, serial});
        }
        *count = static_cast<DWORD>(d->listSnapshot_.size());
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes,
                                                     DWORD* count) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kIoError;
        }
        if (nodes == nullptr || count == nullptr) {
            return kInvalidParameter;
        }
        Lock lock(d->mutex_);
        // As many nodes as the last listing counted, whatever room the caller has.
        DWORD filled = 0;
        for (const auto& entry : d->listSnapshot_) {
            FT_DEVICE_LIST_INFO_NODE& node = nodes[filled];
            std::memset(&node, 0, sizeof node);
            node.Type = kTypeFt232r;
            node.ID = kIdFt232r;
            node.LocId = 0x2000 + filled;
            copyField(node.SerialNumber, sizeof node.SerialNumber, entry.serial);
            if (entry.device != nullptr) {
                const auto& dev = *entry.device;
                node.LocId = dev.locId;
                copyField(node.Description, sizeof node.Description, dev.description);
                if (dev.openHandle != nullptr) {
                    node.Flags |= kFlagOpened;
                    node.ftHandle = dev.openHandle;
                }
            } else {
                copyField(node.Description, sizeof node.Description, kExtraDescription);
            }
            ++filled;
        }
        *count = filled;
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL open(int index, FT_HANDLE* handle) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kDeviceNotFound;
        }
        if (handle == nullptr) {
            return kInvalidParameter;
        }
        Lock lock(d->mutex_);
        if (index < 0 || static_cast<std::size_t>(index) >= d->listSnapshot_.size()) {
            return kDeviceNotFound;
        }
        SimDriver::Device* device = d->listSnapshot_[static_cast<std::size_t>(index)].device;
        if (device == nullptr) {
            return kDeviceNotOpened;  // a reported node with no device behind it
        }
        if (!device->attached) {
            return kDeviceNotFound;
        }
        if (device->openHandle != nullptr || device->faults.failOpen) {
            return kDeviceNotOpened;
        }
        d->handles_.push_back(
            std::make_unique<SimDriver::Handle>(SimDriver::Handle{device, device->generation}));
        SimDriver::Handle* h = d->handles_.back().get();
        d->openHandles_.insert(h);
        device->openHandle = h;
        device->dropPending();
        d->log(WireKind::Open, *device, {}, static_cast<std::uint32_t>(index));
        *handle = h;
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL close(FT_HANDLE handle) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kInvalidHandle;
        }
        Lock lock(d->mutex_);
        SimDriver::Handle* h = d->liveHandle(handle);
        if (h == nullptr) {
            return kInvalidHandle;
        }
        d->openHandles_.erase(h);
        if (h->device->openHandle == h) {
            h->device->openHandle = nullptr;
        }
        d->log(WireKind::Close, *h->device, {});
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL setBaudRate(FT_HANDLE handle, std::uint32_t rate) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kInvalidHandle;
        }
        Lock lock(d->mutex_);
        SimDriver::Handle* h = d->liveHandle(handle);
        if (h == nullptr) {
            return kInvalidHandle;
        }
        if (!h->usable()) {
            return kIoError;
        }
        d->log(WireKind::SetBaudRate, *h->device, {}, rate);
        return h->device->faults.failSetBaudRate ? kIoError : FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL setDataCharacteristics(FT_HANDLE handle, std::uint8_t bits,
                                                          std::uint8_t stop, std::uint8_t parity) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kInvalidHandle;
        }
        Lock lock(d->mutex_);
        SimDriver::Handle* h = d->liveHandle(handle);
        if (h == nullptr) {
            return kInvalidHandle;
        }
        if (!h->usable()) {
            return kIoError;
        }
        const std::uint32_t value =
            static_cast<std::uint32_t>(bits) << 16 | static_cast<std::uint32_t>(stop) << 8 | parity;
        d->log(WireKind::SetDataCharacteristics, *h->device, {}, value);
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL write(FT_HANDLE handle, void* buffer, DWORD toWrite,
                                         DWORD* written) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kInvalidHandle;
        }
        Lock lock(d->mutex_);
        SimDriver::Handle* h = d->liveHandle(handle);
        if (h == nullptr) {
            return kInvalidHandle;
        }
        if (written == nullptr || (buffer == nullptr && toWrite > 0)) {
            return kInvalidParameter;
        }
        *written = 0;
        if (!h->usable()) {
            return kIoError;
        }
        SimDriver::Device& device = *h->device;
        if (device.faults.failWrite) {
            return kIoError;
        }
        // A short write really leaves its last byte unsent.
        const DWORD sent = device.faults.shortWrite && toWrite > 0 ? toWrite - 1 : toWrite;
        const char* bytes = static_cast<const char*>(buffer);
        if (sent > 0) {
            d->log(WireKind::Write, device, std::string(bytes, sent));
        }
        const double start = std::max(device.txFreeAtMs, static_cast<double>(d->clock_.tickMs()));
        for (DWORD i = 0; i < sent; ++i) {
            if (bytes[i] != '\0') {
                device.input.push_back(bytes[i]);
                if (device.input.size() > kMaxPendingInput) {
                    device.input.clear();
                }
                continue;
            }
            std::string command = std::move(device.input);
            device.input.clear();
            d->receiveCommand(device, std::move(command), start + (i + 1) * kByteMs);
        }
        device.txFreeAtMs = start + sent * kByteMs;
        *written = sent;
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL getQueueStatus(FT_HANDLE handle, DWORD* count) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kInvalidHandle;
        }
        Lock lock(d->mutex_);
        SimDriver::Handle* h = d->liveHandle(handle);
        if (h == nullptr) {
            return kInvalidHandle;
        }
        if (count == nullptr) {
            return kInvalidParameter;
        }
        if (!h->usable()) {
            return kIoError;
        }
        *count = static_cast<DWORD>(h->device->readable(d->clock_.tickMs()));
        return FT_OK;
    }

    static FT_STATUS PZ4_D2XX_CALL read(FT_HANDLE handle, void* buffer, DWORD toRead,
                                        DWORD* readCount) {
        SimDriver* d = currentDriver.load();
        if (d == nullptr) {
            return kInvalidHandle;
        }
        Lock lock(d->mutex_);
        SimDriver::Handle* h = d->liveHandle(handle);
        if (h == nullptr) {
            return kInvalidHandle;
        }
        if (readCount == nullptr || (buffer == nullptr && toRead > 0)) {
            return kInvalidParameter;
        }
        *readCount = 0;
        if (!h->usable()) {
            return kIoError;
        }
        SimDriver::Device& device = *h->device;
        if (device.faults.failRead) {
            return kIoError;
        }
        std::size_t n = std::min<std::size_t>(toRead, device.readable(d->clock_.tickMs()));
        if (device.faults.maxReadBytes != 0) {
            n = std::min<std::size_t>(n, device.faults.maxReadBytes);
        }
        std::string bytes(n, '\0');
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = device.rx.front().byte;
            device.rx.pop_front();
        }
        if (n > 0) {
            std::memcpy(buffer, bytes.data(), n);
        }
        *readCount = static_cast<DWORD>(n);
        d->log(WireKind::Read, device, std::move(bytes));
        return FT_OK;
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

}  // namespace pz4::sim
