// The one object through which the window and the worker share the connection to the supply:
// the driver link, the chosen serial number, the status texts and the bus flag.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/ftdi_link.h"
#include "protocol/commands.h"
#include "protocol/readings.h"
#include "protocol/serial_text.h"
#include "protocol/status_text.h"

namespace pz4 {

// Shows a text to the operator in a modal box with an OK button; returns when dismissed.
using MessageFn = std::function<void(const char* text)>;

inline constexpr const char* kDriverMissingMessage =
    "The FTDI-driver for the PZ4 was not found.\nPlease contact the Quorvin support.";

inline constexpr std::size_t kStatusReplySize = 70;  // room 69 and the NUL
using StatusReply = std::array<char, kStatusReplySize>;

class DeviceSession {
  public:
    // Takes the link, tells the operator when its driver is missing, and otherwise lists the
    // supplies once.
    static std::unique_ptr<DeviceSession> create(std::unique_ptr<FtdiLink> link,
                                                 const MessageFn& showMessage);
    // Waits until the bus is free, then tears the link down.
    ~DeviceSession();

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Bus flag: only the worker sets it, so a look followed by a store holds the bus.
    void waitBusFree();
    void takeBus() {
        waitBusFree();
        busy.store(1);
    }
    void releaseBus() { busy.store(0); }

    void ForgetPreviousStatus();
    // Back to no status at all, as at creation: no set field takes the focus or a value until
    // the next accepted status reply.
    void resetStatus() { status.assign(initialStatusBytes()); }

    // The serial of the supply the link has open: every command names it, and every reply is
    // judged against it, whatever the operator has chosen since.
    SerialText addressed() const { return SerialText::from(link->openSerial()); }

    // Sends "PZ4<serial>S <channel>,<value>"; Acknowledged only when the supply acknowledged it.
    SetOutcome SendSetCommand(std::int32_t channel, std::int32_t value);
    // Sends a voltage or current query and parses its reply: 1 accepted, 0 failed.
    std::int32_t QueryValues(const char* command, Readings& readings);
    // Sends the status query (the caller holds the bus) and reads the reply into reply:
    // the number of bytes received, 0 when nothing could be sent or no whole line came.
    std::int32_t QueryStatus(StatusReply& reply);

    std::atomic<std::uint8_t> busy{0};
    std::unique_ptr<FtdiLink> link;
    SerialSlot serial;
    // Counts the operator's choices of another supply; the worker starts over on each.
    std::atomic<std::uint32_t> supplyChoice{0};
    std::int32_t deviceCount = 0;
    SharedStatusText status;
    StatusBytes previousStatus = initialStatusBytes();
    // The last accepted status reply did not begin with a digit: one more such reply in a row
    // and the supply's firmware cannot answer the status query.
    bool statusDigitMissing = false;

  private:
    explicit DeviceSession(std::unique_ptr<FtdiLink> l) : link(std::move(l)) {}

    platform::Clock& clock() const { return link->clock(); }
};

// The session of the running window; null before its initialisation and after its shutdown.
extern std::atomic<DeviceSession*> ActiveSession;

// Creates the session and makes it the active one; the caller owns it.
std::unique_ptr<DeviceSession> createActiveSession(std::unique_ptr<FtdiLink> link,
                                                   const MessageFn& showMessage);
// Clears ActiveSession, then destroys the session, if there is one.
void destroyActiveSession(std::unique_ptr<DeviceSession>& session);

}  // namespace pz4
