// The receive path of an FTDI USB-serial bridge: bytes cross the wire one by one, gather in the
// chip, and reach the host in batches, when the chip's latency timer expires or when a USB
// packet is full. This is what splits a reply anywhere, between its CR and its LF too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace pz4::sim {

class BridgeRx {
  public:
    // A USB packet of 64 bytes carries two status bytes and 62 data bytes.
    static constexpr std::size_t kPacketBytes = 62;

    // timerMs 0 hands each byte over as soon as it has crossed the wire. The timer runs on its
    // own, expiring at phaseMs + k * timerMs, whatever the commands do.
    void setLatencyTimer(std::uint32_t timerMs, double phaseMs);

    // A byte that has finished crossing the wire at atMs. Bytes keep the order of their times.
    void arrive(double atMs, char byte);
    // Bytes handed to the host by nowMs and not yet taken.
    std::size_t available(std::uint64_t nowMs);
    // The oldest byte handed to the host; only while available() is above 0.
    char take();
    void clear();

  private:
    struct OnWire {
        double atMs;
        char byte;
    };

    // The first expiry of the timer after atMs.
    double timerAfter(double atMs) const;
    void handOver(double nowMs);
    void flushChip();

    std::uint32_t timerMs_ = 0;
    double phaseMs_ = 0.0;
    std::deque<OnWire> wire_;
    std::vector<char> chip_;
    double chipDueMs_ = 0.0;
    std::deque<char> host_;
};

}  // namespace pz4::sim
