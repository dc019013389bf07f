// The binding to the FTDI D2XX driver: the loaded library and its entry points, the list of
// attached supplies, the open device, and the reply line reader.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "link/d2xx.h"
#include "platform/clock.h"
#include "platform/library.h"

namespace pz4 {

// The description an FTDI bridge of a PZ4 supply reports; other FTDI devices are ignored.
inline constexpr std::string_view kSupplyDescription = "High Voltage PZ4";

class FtdiLink {
  public:
    static constexpr int kMaxSupplies = 40;
    static constexpr int kSerialSize = 25;  // 24 characters and the NUL
    static constexpr std::uint32_t kBaudRate = 115200;

    using SerialEntry = std::array<char, kSerialSize>;

    // Loads the driver library by its platform name. Never fails: a missing library shows
    // only in driverLoaded().
    explicit FtdiLink(platform::Clock& clock = platform::systemClock());
    // Loads the library by the given name or path.
    explicit FtdiLink(const char* libraryName, platform::Clock& clock = platform::systemClock());
    // Uses the given entry points directly (an in-process driver); no library is loaded.
    explicit FtdiLink(const D2xxEntries& entries, platform::Clock& clock = platform::systemClock());
    ~FtdiLink();

    FtdiLink(const FtdiLink&) = delete;
    FtdiLink& operator=(const FtdiLink&) = delete;

    bool driverLoaded() const { return driverLoaded_; }

    // Rebuilds the list of attached supplies in the driver's order; returns their number.
    std::int32_t listDevices();
    // Opens the first supply whose serial number equals serial (any supply when serial is
    // empty) at 115200 baud, 8 data bits, 1 stop bit, no parity.
    bool openBySerial(const char* serial);
    bool isOpen() const { return handle_ != nullptr; }
    void closeDevice();

    // Collects one reply line into buffer, which must hold room + 1 bytes. Returns the number
    // of bytes received (terminators and anything after them included), 0 on silence or failure.
    std::int32_t readLine(char* buffer, std::int32_t room);

    // Set once, by the worker as it ends: listing, opening and reading fail at once from then.
    std::atomic<bool> closing{false};

    // The device list: entries 0..n-1 after listDevices() returned n; an empty entry starts
    // with NUL.
    std::span<const SerialEntry, kMaxSupplies> serials() const { return serials_; }
    std::int32_t deviceIndex() const { return deviceIndex_; }
    FT_HANDLE handle() const { return handle_; }
    const D2xxEntries& entries() const { return entries_; }
    platform::Clock& clock() const { return clock_; }

  private:
    void resolveEntries();
    // Asks the driver for a fresh device list; false when that is impossible or fails.
    bool refreshNodes(DWORD& count);

    std::int32_t deviceIndex_ = 0;
    FT_HANDLE handle_ = nullptr;
    platform::ModuleHandle driverModule_ = nullptr;
    bool driverLoaded_ = false;
    // Holds at least the 40 nodes the listing examines, and grows to whatever number of
    // devices the driver reports, since the driver fills one node per device without a bound.
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes_;
    std::array<SerialEntry, kMaxSupplies> serials_{};
    D2xxEntries entries_{};
    platform::Clock& clock_;
};

}  // namespace pz4
