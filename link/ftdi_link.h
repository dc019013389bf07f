// The binding to the FTDI D2XX driver: the loaded library and its entry points, the list of
// attached supplies, the open device, and the wire itself: writing commands, throwing away
// stale input, reading reply lines, and the wire trace. Nothing else calls the driver.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/d2xx.h"
#include "link/wire_trace.h"
#include "platform/clock.h"
#include "platform/library.h"
#include "platform/stop_signal.h"

namespace pz4 {

// The description an FTDI bridge of a PZ4 supply reports; other FTDI devices are ignored.
inline constexpr std::string_view kSupplyDescription = "High Voltage PZ4";

class FtdiLink {
  public:
    static constexpr int kMaxSupplies = 40;
    static constexpr int kSerialSize = 25;  // 24 characters and the NUL
    static constexpr std::uint32_t kBaudRate = 115200;

    using SerialEntry = std::array<char, kSerialSize>;

    enum class WriteResult { Written, NotSent, Failed };

    // Loads the driver library by its platform name. Never fails: a missing library shows
    // only in driverLoaded(). Every constructor traces the wire when PZ4_TRACE names a file.
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
    // What the last listing found of each supply, in the driver's order.
    struct ListedSupply {
        std::string serial;
        std::string description;
        DWORD location = 0;  // the driver's location id of the bridge
    };
    std::vector<ListedSupply> listedSupplies() const;

    // Opens the first supply whose serial number equals serial (any supply when serial is
    // empty) at 115200 baud, 8 data bits, 1 stop bit, no parity.
    bool openBySerial(const char* serial);
    // Why the last open failed: FT_DEVICE_NOT_FOUND when no supply had that serial,
    // FT_DEVICE_NOT_OPENED when another program holds it, another status for other failures;
    // FT_OK after a good open.
    FT_STATUS lastOpenStatus() const { return lastOpenStatus_; }
    bool isOpen() const { return handle_ != nullptr; }
    // The serial number of the supply that is open, as its bridge reports it; empty while none
    // is. Commands address this supply, whatever the operator has chosen since.
    std::string_view openSerial() const { return handle_ != nullptr ? openSerial_.data() : ""; }
    void closeDevice();

    // Writes one command, its text and the terminating NUL. Whatever the driver already holds
    // for the device is read and thrown away first, so that no stale byte becomes part of the
    // reply; after an exchange that did not end in a clean line the line must also have gone
    // quiet. NotSent while closing or stopping, or with no device open; Failed when the driver
    // refuses the write or the line never goes quiet.
    WriteResult writeCommand(const char* text);

    // Collects one reply line into buffer, which must hold room + 1 bytes. Returns the number
    // of bytes received (terminators and anything after them included), 0 on silence or failure.
    // The LF of a line that was cut at its CR is taken as that line's, not the next one's.
    // After an exchange that went wrong, a line only counts when nothing else follows it: a
    // late reply to an earlier command is followed by the reply to this one.
    std::int32_t readLine(char* buffer, std::int32_t room);
    // The last line read ended at a line end or filled the buffer; false when silence cut it
    // short or nothing came.
    bool lastLineWhole() const { return lineWhole_; }
    // ... and ended as a reply ends: one line, with nothing of another before or behind it.
    bool lastLineClean() const { return lineClean_; }
    // The caller found the last line no answer to its command (an empty line, another form):
    // the line is out of step, and the next command waits as after a reply that never came.
    void markOutOfStep() { unsettle(); }

    // Traces every driver call that moves or discards bytes from now on; null stops tracing.
    void setTrace(std::unique_ptr<WireTrace> trace) { trace_ = std::move(trace); }

    // Set once, by the worker as it ends: listing, opening and reading fail at once from then.
    std::atomic<bool> closing{false};
    // A stop request ends every wait of the link at once: the reader, the wait for the line to
    // settle and the exchanges' pauses; no command is written once it is raised.
    void watchStop(platform::StopSignal& stop) { stop_ = &stop; }
    bool stopping() const { return closing.load() || stop_->load(); }
    // Waits ms milliseconds; false when a stop request ended the wait (or came before it).
    bool pause(std::uint32_t ms);

    // The device list: entries 0..n-1 after listDevices() returned n; an empty entry starts
    // with NUL.
    std::span<const SerialEntry, kMaxSupplies> serials() const { return serials_; }
    std::int32_t deviceIndex() const { return deviceIndex_; }
    FT_HANDLE handle() const { return handle_; }
    const D2xxEntries& entries() const { return entries_; }
    platform::Clock& clock() const { return clock_; }

  private:
    struct LineEnd {
        std::int32_t at = -1;  // where the line was cut; -1 when it was not
        char terminator = '\0';
    };

    void resolveEntries();
    // Asks the driver for a fresh device list; false when that is impossible or fails.
    bool refreshNodes(DWORD& count);
    std::int32_t collectLine(char* buffer, std::int32_t room, LineEnd& end);
    // True when the line ended as a reply ends, with nothing of another line in or behind it;
    // notes whether its LF is still to come.
    bool endsCleanly(const char* buffer, std::int32_t count, const LineEnd& end);
    // What reading and throwing away the waiting bytes found.
    struct Discarded {
        bool ok = true;        // the read worked
        bool news = false;     // bytes other than the LF of a line cut at its CR
        bool lineEnd = false;  // ... among them a line end: a whole line went by
    };
    Discarded discardWaiting(DWORD waiting);
    bool dropStaleInput();
    bool lineStaysQuiet(bool& noise);
    // The last exchange went wrong: its reply, or part of it, may still come.
    void unsettle();
    void trace(std::string_view event, std::string_view detail);

    std::int32_t deviceIndex_ = 0;
    FT_HANDLE handle_ = nullptr;
    FT_STATUS lastOpenStatus_ = FT_OK;
    // The nodes of the last listing that were supplies.
    std::vector<std::size_t> supplyNodes_;
    platform::ModuleHandle driverModule_ = nullptr;
    bool driverLoaded_ = false;
    // Holds at least the 40 nodes the listing examines, and grows to whatever number of
    // devices the driver reports, since the driver fills one node per device without a bound.
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes_;
    std::array<SerialEntry, kMaxSupplies> serials_{};
    SerialEntry openSerial_{};
    D2xxEntries entries_{};
    platform::Clock& clock_;
    platform::StopSignal neverStopped_;
    platform::StopSignal* stop_ = &neverStopped_;
    std::unique_ptr<WireTrace> trace_;
    // Bytes of an earlier exchange may still be on their way ...
    bool lineUnsettled_ = false;
    // ... a late reply until then at the latest.
    std::uint64_t lateReplyUntilMs_ = 0;
    std::uint64_t lastWriteMs_ = 0;
    // The last line was cut at a CR whose LF has not come yet.
    bool pendingLf_ = false;
    // The next line counts only if the line stays quiet after it.
    bool confirmNextLine_ = false;
    bool lineWhole_ = false;
    bool lineClean_ = false;
};

}  // namespace pz4
