// Writing a command, and throwing away what is on the line before it: a byte that arrived
// before the command was written is no part of its reply.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "link/ftdi_link.h"
#include "link/wire_timing.h"

namespace pz4 {

using namespace wire_timing;

namespace {

// Stale bytes are read and thrown away this many at a time.
constexpr DWORD kDrainChunk = 256;

}  // namespace

FtdiLink::WriteResult FtdiLink::writeCommand(const char* text) {
    if (stopping() || handle_ == nullptr) {
        return WriteResult::NotSent;
    }
    if (entries_.FT_Write == nullptr) {
        return WriteResult::Failed;
    }
    const DWORD length = static_cast<DWORD>(std::strlen(text)) + 1;
    const bool settled = dropStaleInput();
    // A stop request that ended the wait: nothing goes out any more.
    if (stopping()) {
        return WriteResult::NotSent;
    }
    if (!settled) {
        if (trace_) {
            trace("write", escapedBytes({text, length}) + " not sent: the line did not settle");
        }
        return WriteResult::Failed;
    }
    confirmNextLine_ = lineUnsettled_;
    lastWriteMs_ = clock_.tickMs();
    DWORD written = 0;
    // The driver takes a non-const buffer but only reads it.
    const FT_STATUS status = entries_.FT_Write(handle_, const_cast<char*>(text), length, &written);
    const bool ok = status == FT_OK && written == length;
    if (trace_) {
        trace("write", escapedBytes({text, length}) + (ok ? "" : " failed"));
    }
    if (!ok) {
        // Part of a command may have gone out; what answers it is anyone's guess.
        unsettle();
        return WriteResult::Failed;
    }
    return WriteResult::Written;
}

FtdiLink::Discarded FtdiLink::discardWaiting(DWORD waiting) {
    std::array<char, kDrainChunk> scratch;
    const DWORD asked = std::min<DWORD>(waiting, static_cast<DWORD>(scratch.size()));
    DWORD got = 0;
    const FT_STATUS status = entries_.FT_Read(handle_, scratch.data(), asked, &got);
    if (got > asked) {
        trace("drain", "failed: more bytes reported than asked for");
        return {false, true, true};
    }
    Discarded found;
    found.ok = status == FT_OK && got == asked;
    if (trace_) {
        trace("drain", escapedBytes({scratch.data(), got}) + (found.ok ? "" : " failed"));
    }
    std::string_view bytes(scratch.data(), got);
    // The LF of a line cut at its CR is expected; anything else is news.
    if (!bytes.empty() && std::exchange(pendingLf_, false) && bytes.front() == '\n') {
        bytes.remove_prefix(1);
    }
    found.news = !bytes.empty();
    found.lineEnd = bytes.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
    return found;
}

void FtdiLink::unsettle() {
    lineUnsettled_ = true;
    lateReplyUntilMs_ = lastWriteMs_ + kLateReplyMs;
}

bool FtdiLink::dropStaleInput() {
    // Without these the reply cannot be read either; the read will say so.
    if (entries_.FT_GetQueueStatus == nullptr || entries_.FT_Read == nullptr) {
        return true;
    }
    const std::uint64_t start = clock_.tickMs();
    std::uint64_t lastByteMs = start;
    std::size_t dropped = 0;
    for (;;) {
        if (stopping() || handle_ == nullptr) {
            return false;
        }
        DWORD waiting = 0;
        // A device that is gone fails here at once rather than after the wait for quiet.
        if (entries_.FT_GetQueueStatus(handle_, &waiting) != FT_OK) {
            return false;
        }
        const std::uint64_t now = clock_.tickMs();
        if (waiting > 0) {
            const Discarded found = discardWaiting(waiting);
            if (!found.ok) {
                unsettle();
                return false;
            }
            lineUnsettled_ = lineUnsettled_ || found.news;
            dropped += std::min<DWORD>(waiting, kDrainChunk);
            lastByteMs = now;
        } else if (!lineUnsettled_ ||
                   (now - lastByteMs >= kSettleQuietMs && now >= lateReplyUntilMs_)) {
            return true;
        }
        if (clock_.tickMs() - start > kSettleLimitMs || dropped > kMaxStaleBytes) {
            return false;
        }
        if (lineUnsettled_) {
            clock_.sleepMs(waiting > 0 ? kTricklePauseMs : kIdlePauseMs);
        }
    }
}

}  // namespace pz4
