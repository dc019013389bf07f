// One kernel serial port, held by this program alone: raw bytes, no flow control, non-blocking
// underneath with bounded waits. Once the device hangs up or goes away, every operation fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pz4 {

class SerialPort {
  public:
    // Opens the node at path; isOpen() tells whether that worked. Another holder of the port
    // (this program or another) makes it fail.
    explicit SerialPort(const char* path);
    ~SerialPort();

    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // The open failed because another program holds the port (its lock, or its exclusive use).
    bool heldElsewhere() const { return heldElsewhere_; }
    // The device hung up or was unplugged.
    bool gone() const { return gone_; }

    // False for a rate the kernel has no setting for.
    bool setBaudRate(std::uint32_t baud);
    // Word length 7 or 8; stop bits 0 (one) or 2 (two); parity 0 none, 1 odd, 2 even,
    // 3 mark, 4 space: the driver library's codes.
    bool setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                std::uint8_t parity);

    // The number of received bytes waiting; false when the port is gone.
    bool waiting(std::uint32_t& count);
    // Reads exactly out.size() bytes unless they are not there within a short wait; got says
    // how many came. False when the port is gone or the read failed.
    bool read(std::span<char> out, std::size_t& got);
    // Writes every byte unless the line stays blocked for a second; written says how many
    // went. False when the port is gone or the write failed.
    bool write(std::span<const char> data, std::size_t& written);

  private:
    bool heldElsewhere_ = false;
    // Records a failure that means the device is gone; true when it did.
    bool noteGone(int error);
    // Waits until the port is ready for events (or has hung up); false on time-out or hang-up.
    bool waitFor(short events, int timeoutMs);

    int fd_ = -1;
    bool gone_ = false;
};

}  // namespace pz4
