#include "sim/sim_driver.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "link/ftdi_link.h"
#include "sim/sim_device.h"

namespace pz4::sim {
namespace {

constexpr std::size_t kGarbageLength = 40;

// Bytes no reply consists of: all above 0x7F, so none is a line end.
std::string garbage() {
    std::string bytes(kGarbageLength, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(0x80 | ((i * 37 + 11) & 0x7F));
    }
    return bytes;
}

}  // namespace

SimDriver::SimDriver(platform::Clock& clock) : clock_(clock) {}

void SimDriver::seedPhases(std::uint32_t seed) {
    std::lock_guard lock(mutex_);
    phases_.seed(seed);
}

double SimDriver::nextPhase() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(phases_) * latencyTimerMs;
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
    // They have crossed the wire now, ahead of reply bytes still on their way.
    const double now = static_cast<double>(clock_.tickMs());
    for (char c : raw) {
        d->rx.arrive(now, c);
    }
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

std::uint64_t SimDriver::misaddressedCount() const {
    std::lock_guard lock(mutex_);
    return misaddressedCount_;
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
    if (misaddressed(command, device.serial)) {
        ++misaddressedCount_;
    }
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
    } else if (device.faults.errReplies || (device.faults.refuseSets && isSetCommand(command))) {
        reply = "ERR\r\n";
    } else {
        auto answer = device.supply->handleCommand(command, now);
        if (!answer) {
            return;
        }
        // The supply did act on the command; only its answer is lost on the way back.
        reply = device.faults.garbageReplies ? garbage() : std::move(*answer);
    }
    scheduleReply(device, device.faults.replyPrefix + reply,
                  doneAtMs + replyLatencyMs + device.faults.replyDelayMs +
                      std::exchange(device.faults.nextReplyDelayMs, 0));
}

double SimDriver::transmit(Device& device, std::string_view bytes, double startMs) {
    const SimFaults& f = device.faults;
    double t = std::max(startMs, device.rxFreeAtMs);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && i > 0 && bytes[i - 1] == '\r') {
            t += f.lfLagMs;
        }
        t += kByteMs;
        device.rx.arrive(t, bytes[i]);
    }
    device.rxFreeAtMs = t;
    return t;
}

void SimDriver::releaseStrays(Device& device, double untilMs) {
    while (!device.strays.empty() && device.strays.front().first <= untilMs) {
        transmit(device, device.strays.front().second, device.strays.front().first);
        device.strays.pop_front();
    }
}

void SimDriver::scheduleReply(Device& device, const std::string& reply, double startMs) {
    if (reply.empty()) {
        return;
    }
    releaseStrays(device, startMs);
    const SimFaults& f = device.faults;
    const std::size_t pieces =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(f.pieces, 1)), 1, reply.size());
    double t = startMs;
    for (std::size_t piece = 0; piece < pieces; ++piece) {
        const std::size_t begin = piece * reply.size() / pieces;
        const std::size_t end = (piece + 1) * reply.size() / pieces;
        t = transmit(device, std::string_view(reply).substr(begin, end - begin),
                     piece > 0 ? t + f.pieceGapMs : t);
    }
    if (!f.strayBytes.empty()) {
        device.strays.emplace_back(t + f.strayGapMs, f.strayBytes);
    }
}

}  // namespace pz4::sim
