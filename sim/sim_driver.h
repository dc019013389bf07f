// A stand-in for FTDI's D2XX driver: the nine entry points over a set of attached simulated
// FTDI devices (PZ4 supplies and unrelated devices), with the faults tests need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "link/d2xx.h"
#include "platform/clock.h"
#include "sim/sim_supply.h"

namespace pz4::sim {

// Faults of one device; all off by default.
struct SimFaults {
    bool silent = false;                 // commands are taken, nothing is answered
    bool errReplies = false;             // every command is answered "ERR\r\n"
    bool refuseSets = false;             // set commands alone are answered "ERR\r\n"
    bool garbageReplies = false;         // every reply is replaced by bytes that are no reply
                                         // (the supply still acts on the command)
    std::string replyPrefix;             // bytes delivered before every reply (e.g. a stray "\n")
    int pieces = 1;                      // every reply arrives in this many pieces ...
    std::uint32_t pieceGapMs = 3;        // ... this far apart
    std::uint32_t replyDelayMs = 0;      // every reply starts this much later (late: beyond ~500)
    std::uint32_t nextReplyDelayMs = 0;  // the next reply alone starts this much later still
    std::uint32_t lfLagMs = 0;           // an LF that follows a CR leaves this much after it
    std::string strayBytes;              // unasked bytes the supply sends after every reply ...
    std::uint32_t strayGapMs = 0;        // ... this long after the reply's last byte
    std::uint32_t maxReadBytes = 0;      // FT_Read hands out at most this many bytes (0: no limit)
    bool failWrite = false;              // FT_Write returns an error status
    bool shortWrite = false;             // FT_Write sends and reports one byte fewer than asked
    bool failRead = false;               // FT_Read returns an error status
    bool failOpen = false;               // FT_Open returns an error status
    bool failSetBaudRate = false;        // FT_SetBaudRate returns an error status
};

// Faults of the driver as a whole.
struct SimDriverFaults {
    bool failCreateList = false;  // FT_CreateDeviceInfoList returns an error status
    int extraReportedNodes = 0;   // FT_CreateDeviceInfoList reports this many more devices
                                  // than are attached (and FT_GetDeviceInfoList fills them)
};

enum class WireKind { Open, Close, Write, Read, SetBaudRate, SetDataCharacteristics };

struct WireEvent {
    std::uint64_t tickMs;
    WireKind kind;
    std::string serial;  // the device concerned
    std::string bytes;   // Write: every byte written (the NUL included); Read: bytes handed out
    // Open: the node index; SetBaudRate: the rate; SetDataCharacteristics:
    // bits<<16|stop<<8|parity.
    std::uint32_t value = 0;
};

class SimDriver {
  public:
    // Reply timing follows the clock: reply bytes cross the wire at 115200 baud (10 bits a
    // byte) once the command has crossed it and replyLatencyMs has passed; the bridge hands
    // them to the host in batches (latencyTimerMs).
    explicit SimDriver(platform::Clock& clock);
    ~SimDriver();

    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;

    // The nine entry points, bound to this driver. Only one SimDriver may hand out entries at
    // a time (the entry points are plain functions; they reach the driver made current last).
    // FT_Open starts a device with empty queues; the extra reported nodes cannot be opened.
    D2xxEntries entries();

    // Attaches a PZ4 supply (description "High Voltage PZ4") at the end of the driver's order.
    SimSupply& addSupply(const std::string& serial);
    // Attaches an FTDI device that is no supply; it never answers.
    void addOtherDevice(const std::string& serial, const std::string& description);
    // Unplugging removes the device from the list; its open handles fail from then on.
    // Replugging puts it back at the end of the driver's order; old handles stay dead.
    void unplug(std::string_view serial);
    void replug(std::string_view serial);

    // Set-up accessors: the pointer and references they return may be used without the lock
    // only while no other thread calls into the driver. While a worker runs, use the locked
    // forms below (withSupply, setFaults, withFaults, setDriverFaults).
    SimSupply* supply(std::string_view serial);
    // Throws std::invalid_argument for a serial that no device has.
    SimFaults& faults(std::string_view serial);
    SimDriverFaults& driverFaults() { return driverFaults_; }

    // Runs fn(SimSupply&) under the driver's lock, with the supply's ramps moved on to now
    // first. False when no supply has that serial.
    template <typename Fn>
    bool withSupply(std::string_view serial, Fn&& fn) {
        std::lock_guard lock(mutex_);
        SimSupply* s = supplyNow(serial);
        if (s == nullptr) {
            return false;
        }
        std::forward<Fn>(fn)(*s);
        return true;
    }
    // Runs fn(SimFaults&) under the driver's lock; false when no device has that serial.
    template <typename Fn>
    bool withFaults(std::string_view serial, Fn&& fn) {
        std::lock_guard lock(mutex_);
        SimFaults* f = findFaults(serial);
        if (f == nullptr) {
            return false;
        }
        std::forward<Fn>(fn)(*f);
        return true;
    }
    bool setFaults(std::string_view serial, const SimFaults& faults);
    SimFaults faultsOf(std::string_view serial) const;  // a copy; default faults when unknown
    void setDriverFaults(const SimDriverFaults& faults);
    template <typename Fn>
    void withDriverFaults(Fn&& fn) {
        std::lock_guard lock(mutex_);
        std::forward<Fn>(fn)(driverFaults_);
    }

    // The raw bytes of the next reply of that device, instead of what the supply would say
    // (the supply is not asked). Queued replies come before errReplies and garbageReplies;
    // a silent device or one that is no supply answers nothing and keeps its queue.
    void queueReply(std::string_view serial, std::string raw);
    // Bytes that arrive now on the device's receive line, unasked.
    void injectBytes(std::string_view serial, std::string raw);

    std::vector<WireEvent> wireLog() const;
    void clearWireLog();
    // Commands written so far (text without the NUL), all devices, in order.
    std::vector<std::string> commands() const;
    // Commands received since construction, all devices; clearWireLog does not reset it.
    std::uint64_t commandCount() const;
    // Commands that named another serial than the device they arrived on; a command too
    // garbled to name one does not count.
    std::uint64_t misaddressedCount() const;
    int openHandleCount() const;

    // Called under the lock for every complete command a device receives, with the tick, the
    // device's serial and the command text.
    using CommandObserver =
        std::function<void(std::uint64_t tickMs, std::string_view serial, std::string_view)>;
    void setCommandObserver(CommandObserver observer);

    platform::Clock& clock() const { return clock_; }

    // Set these before other threads use the driver.
    std::uint32_t replyLatencyMs = 1;
    // The bridge's latency timer; 0 hands each byte over as soon as it has crossed the wire,
    // for tests that time the reader to the millisecond. Each open starts the timer at a phase
    // of its own, drawn from a generator seeded with seedPhases.
    std::uint32_t latencyTimerMs = 16;
    void seedPhases(std::uint32_t seed);
    // The wire log and the command list keep at most this many entries, dropping the oldest
    // (0: no limit), so that a long-running stand-in does not grow without end.
    std::size_t wireLogLimit = 0;

    // The mutex every entry point holds; tests driving faults from another thread use the
    // accessors above, which take it too.
    std::recursive_mutex& mutex() const { return mutex_; }

    struct Device;
    struct Handle;

  private:
    friend struct SimEntryPoints;

    // One entry of what the last FT_CreateDeviceInfoList saw; device is null for the extra
    // nodes that stand for no attached device.
    struct ListEntry {
        Device* device;
        std::string serial;
    };

    Device* findDevice(std::string_view serial);
    const Device* findDevice(std::string_view serial) const;
    SimFaults* findFaults(std::string_view serial);
    SimSupply* supplyNow(std::string_view serial);
    Handle* liveHandle(FT_HANDLE handle);
    void log(WireKind kind, const Device& device, std::string bytes, std::uint32_t value = 0);
    void receiveCommand(Device& device, std::string command, double doneAtMs);
    void scheduleReply(Device& device, const std::string& reply, double startMs);
    // Puts bytes on the device's transmit line from startMs on, or once the line is free;
    // returns when the last is done.
    double transmit(Device& device, std::string_view bytes, double startMs);
    // Sends the unasked bytes that are due by untilMs.
    void releaseStrays(Device& device, double untilMs);
    double nextPhase();

    platform::Clock& clock_;
    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<Device>> devices_;  // attachment order = driver order
    // Every handle ever handed out stays allocated, so a stale one never aliases a new one.
    std::vector<std::unique_ptr<Handle>> handles_;
    std::unordered_set<const Handle*> openHandles_;
    std::vector<ListEntry> listSnapshot_;
    SimDriverFaults driverFaults_;
    std::deque<WireEvent> log_;
    std::deque<std::string> commands_;
    std::uint64_t commandCount_ = 0;
    std::uint64_t misaddressedCount_ = 0;
    CommandObserver observer_;
    std::minstd_rand phases_{1};
};

}  // namespace pz4::sim
