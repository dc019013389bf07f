// The three exchanges with the supply: each has the link write one command (its text and the
// NUL) and read one reply line, under the bus flag.
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

SetOutcome DeviceSession::SendSetCommand(std::int32_t channel, std::int32_t value) {
    CommandText command;
    CommandText expected;
    const SerialText addressee = addressed();
    if (!formatSetCommand(command, addressee, channel, value) ||
        !formatAcknowledgement(expected, addressee)) {
        return SetOutcome::NotFormed;
    }
    takeBus();
    BusRelease release(*this);
    if (!link->pause(kSetCommandPauseMs) ||
        link->writeCommand(command.data()) != FtdiLink::WriteResult::Written) {
        return SetOutcome::NotSent;
    }
    clock().sleepMs(0);
    std::array<char, kReplyRoom + 1> reply;
    const std::int32_t received = link->readLine(reply.data(), kReplyRoom);
    if (received < 1) {
        return SetOutcome::NotAcknowledged;
    }
    reply[static_cast<std::size_t>(received)] = '\0';
    // Anything but the acknowledgement (an error reply too) leaves the line out of step: what
    // else the supply had to say may still be on its way.
    if (isErrorReply(reply.data()) ||
        std::string_view(reply.data()) != std::string_view(expected.data())) {
        link->markOutOfStep();
        return SetOutcome::NotAcknowledged;
    }
    return SetOutcome::Acknowledged;
}

std::int32_t DeviceSession::QueryValues(const char* command, Readings& readings) {
    readings.count = 0;
    waitBusFree();
    if (!link->pause(kQueryPauseMs)) {
        return 0;  // stopping: no query goes out
    }
    busy.store(1);
    BusRelease release(*this);
    if (link->writeCommand(command) == FtdiLink::WriteResult::Failed) {
        return 0;
    }
    clock().sleepMs(0);
    std::array<char, kReplyRoom + 1> reply;
    const std::int32_t received = link->readLine(reply.data(), kReplyRoom);
    // A reply cut short by silence can look whole ("42,500,7" of "42,500,700,0"): only a line
    // that ended carries readings.
    if (received == 0 || !link->lastLineWhole()) {
        return 0;
    }
    reply[static_cast<std::size_t>(received)] = '\0';
    // A reply that carries no readings of this supply (an error reply too) leaves the line out
    // of step: what else the supply had to say may still be on its way.
    if (isErrorReply(reply.data()) ||
        !parseNumericReply(reply.data(), addressed().view(), readings)) {
        link->markOutOfStep();
        return 0;
    }
    return 1;
}

std::int32_t DeviceSession::QueryStatus(StatusReply& reply) {
    // A serial holds at most 24 characters, so the status query always fits its buffer.
    std::snprintf(reply.data(), reply.size(), "PZ4%sGSS", addressed().c_str());
    if (link->writeCommand(reply.data()) == FtdiLink::WriteResult::Failed) {
        return 0;
    }
    clock().sleepMs(0);
    const std::int32_t received =
        link->readLine(reply.data(), static_cast<std::int32_t>(reply.size()) - 1);
    // Bytes that trailed off into silence (noise, half a reply) are no status reply, and a line
    // behind another is none either: the positions read would be the other line's.
    return link->lastLineWhole() && link->lastLineClean() ? received : 0;
}

}  // namespace pz4
