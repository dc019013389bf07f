// The reply line reader: polls the driver's receive queue until a line terminator arrives,
// the buffer is full, or half a second has passed.
#include <algorithm>
#include <cstring>
#include <utility>

#include "link/ftdi_link.h"
#include "link/wire_timing.h"

namespace pz4 {
namespace {

using namespace wire_timing;

bool isTerminator(char c) {
    return c == '\0' || c == '\n' || c == '\r';
}

}  // namespace

std::int32_t FtdiLink::readLine(char* buffer, std::int32_t room) {
    const bool confirm = std::exchange(confirmNextLine_, false);
    LineEnd end;
    const std::int32_t count = collectLine(buffer, room, end);
    const bool clean = endsCleanly(buffer, count, end);
    lineWhole_ = count > 0 && (end.at >= 0 || count >= room);
    // A full buffer holds no line end at all: one long line, and nothing of another.
    lineClean_ = lineWhole_ && (clean || end.at < 0);
    if (!clean) {
        unsettle();
        // After an exchange went wrong, bytes behind the line may be this command's reply.
        return confirm ? 0 : count;
    }
    if (confirm) {
        bool noise = false;
        if (!lineStaysQuiet(noise)) {
            // Two lines for one command: which one answers it cannot be told.
            unsettle();
            return 0;
        }
        // Bytes without a line end after the reply may begin a line still to come: the next
        // command waits for quiet and is confirmed in turn.
        lineUnsettled_ = noise;
    }
    return count;
}

std::int32_t FtdiLink::collectLine(char* buffer, std::int32_t room, LineEnd& end) {
    if (stopping()) {
        return 0;
    }
    if (handle_ == nullptr || entries_.FT_GetQueueStatus == nullptr ||
        entries_.FT_Read == nullptr) {
        return 0;
    }
    std::int32_t stored = 0;
    DWORD waiting = 0;
    const std::uint64_t start = clock_.tickMs();
    for (;;) {
        if (stopping() || handle_ == nullptr) {
            return 0;
        }
        entries_.FT_GetQueueStatus(handle_, &waiting);
        std::uint32_t pause = kIdlePauseMs;
        if (waiting >= 1) {
            if (stored >= room) {
                return stored;
            }
            const DWORD asked = std::min<DWORD>(waiting, static_cast<DWORD>(room - stored));
            DWORD got = 0;
            const FT_STATUS status = entries_.FT_Read(handle_, buffer + stored, asked, &got);
            // A driver that claims more bytes than were asked for must not move us past the
            // buffer: treat it like any other broken read.
            if (got > asked) {
                buffer[stored] = '\0';
                trace("read", "failed: more bytes reported than asked for");
                return 0;
            }
            const bool broken = got != asked || status != FT_OK;
            if (trace_) {
                trace("read", escapedBytes({buffer + stored, got}) + (broken ? " failed" : ""));
            }
            DWORD kept = got;
            // The LF of the previous line, cut at its CR, belongs to that line.
            if (stored == 0 && got > 0 && std::exchange(pendingLf_, false) && buffer[0] == '\n') {
                std::memmove(buffer, buffer + 1, got - 1);
                --kept;
            }
            const std::int32_t first = stored;
            stored += static_cast<std::int32_t>(kept);
            buffer[stored] = '\0';
            if (broken) {
                return 0;
            }
            // The last-but-one byte is tested first, so a CR LF ending is cut at the CR.
            for (const std::int32_t at : {stored - 2, stored - 1}) {
                if (at >= 0 && isTerminator(buffer[at])) {
                    end = {at, buffer[at]};
                    buffer[at] = '\0';
                    return stored;
                }
            }
            for (std::int32_t i = first; i < stored; ++i) {
                if (isTerminator(buffer[i])) {
                    end = {i, buffer[i]};
                    buffer[i] = '\0';
                    return stored;
                }
            }
            if (stored == room) {
                return stored;
            }
            pause = kept > 0 ? kTricklePauseMs : kIdlePauseMs;
        }
        clock_.sleepMs(pause);
        if (clock_.tickMs() - start >= kReplyWaitMs) {
            return stored;
        }
    }
}

bool FtdiLink::endsCleanly(const char* buffer, std::int32_t count, const LineEnd& end) {
    pendingLf_ = false;
    if (count == 0 || end.at < 0) {
        // Silence, a failure, or a line without its end: the rest may still come.
        return false;
    }
    const bool onlyItsEnd = end.at == count - 1;
    pendingLf_ = onlyItsEnd && end.terminator == '\r';
    const bool crLf = end.at == count - 2 && end.terminator == '\r' && buffer[count - 1] == '\n';
    // More than one line, or bytes behind the line, mean something is out of step.
    return (onlyItsEnd || crLf) && std::none_of(buffer, buffer + end.at, isTerminator);
}

// After an exchange went wrong: no further line may follow the one just read, neither soon
// after it nor until this command's own reply would have come had the line been a late reply
// to an earlier one. noise tells whether other bytes came.
bool FtdiLink::lineStaysQuiet(bool& noise) {
    const std::uint64_t until =
        std::max(clock_.tickMs(), lastWriteMs_ + kSlowestAnswerMs) + kConfirmMs;
    while (clock_.tickMs() < until) {
        clock_.sleepMs(kIdlePauseMs);
        if (stopping() || handle_ == nullptr) {
            return false;
        }
        DWORD waiting = 0;
        entries_.FT_GetQueueStatus(handle_, &waiting);
        if (waiting == 0) {
            continue;
        }
        const Discarded found = discardWaiting(waiting);
        noise = noise || found.news;
        if (!found.ok || found.lineEnd) {
            return false;
        }
    }
    return true;
}

}  // namespace pz4
