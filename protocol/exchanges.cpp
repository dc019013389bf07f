// The three exchanges with the supply: each writes one command (its text and the NUL) and
// reads one reply line, under the bus flag.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "protocol/commands.h"
#include "protocol/device_session.h"
#include "protocol/numeric_reply.h"

namespace pz4 {
namespace {

constexpr std::int32_t kReplyRoom = 499;
constexpr std::uint32_t kSetCommandPauseMs = 60;
constexpr std::uint32_t kQueryPauseMs = 20;

// Releases the bus on every way out of an exchange.
class BusRelease {
  public:
    explicit BusRelease(DeviceSession& s) : session_(s) {}
    ~BusRelease() { session_.releaseBus(); }
    BusRelease(const BusRelease&) = delete;
    BusRelease& operator=(const BusRelease&) = delete;

  private:
    DeviceSession& session_;
};

bool isErrorReply(const char* text) {
    return std::strncmp(text, "ERR", 3) == 0;
}

}  // namespace

DeviceSession::WriteResult DeviceSession::writeCommand(const char* text) {
    // Closing or no open device: nothing goes out, and the read that follows fails at once.
    if (link->closing || !link->isOpen()) {
        return WriteResult::NotSent;
    }
    const auto write = link->entries().FT_Write;
    if (write == nullptr) {
        return WriteResult::Failed;
    }
    const DWORD length = static_cast<DWORD>(std::strlen(text)) + 1;
    DWORD written = 0;
    // The driver takes a non-const buffer but only reads it.
    if (write(link->handle(), const_cast<char*>(text), length, &written) != FT_OK ||
        written != length) {
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}

bool DeviceSession::SendSetCommand(std::int32_t channel, std::int32_t value) {
    CommandText command;
    if (!formatSetCommand(command, serial.load(), channel, value)) {
        return false;
    }
    takeBus();
    BusRelease release(*this);
    clock().sleepMs(kSetCommandPauseMs);
    if (writeCommand(command.data()) == WriteResult::Failed) {
        return false;
    }
    clock().sleepMs(0);
    std::array<char, kReplyRoom + 1> reply;
    const std::int32_t received = link->readLine(reply.data(), kReplyRoom);
    if (received < 1) {
        return false;
    }
    reply[static_cast<std::size_t>(received)] = '\0';
    if (isErrorReply(reply.data())) {
        return false;
    }
    CommandText expected;
    if (!formatAcknowledgement(expected, serial.load())) {
        return false;
    }
    return std::string_view(reply.data()) == std::string_view(expected.data());
}

std::int32_t DeviceSession::QueryValues(const char* command, Readings& readings) {
    readings.count = 0;
    waitBusFree();
    clock().sleepMs(kQueryPauseMs);
    busy.store(1);
    BusRelease release(*this);
    if (writeCommand(command) == WriteResult::Failed) {
        return 0;
    }
    clock().sleepMs(0);
    std::array<char, kReplyRoom + 1> reply;
    const std::int32_t received = link->readLine(reply.data(), kReplyRoom);
    if (received == 0) {
        return 0;
    }
    reply[static_cast<std::size_t>(received)] = '\0';
    if (isErrorReply(reply.data())) {
        return 0;
    }
    return parseNumericReply(reply.data(), serial.load().view(), readings) ? 1 : 0;
}

std::int32_t DeviceSession::QueryStatus(StatusReply& reply) {
    // A serial holds at most 24 characters, so the status query always fits its buffer.
    std::snprintf(reply.data(), reply.size(), "PZ4%sGSS", serial.load().c_str());
    if (writeCommand(reply.data()) == WriteResult::Failed) {
        return 0;
    }
    clock().sleepMs(0);
    return link->readLine(reply.data(), static_cast<std::int32_t>(reply.size()) - 1);
}

}  // namespace pz4
