// The reply line reader: polls the driver's receive queue until a line terminator arrives,
// the buffer is full, or the supply has stayed silent for 100 polls.
#include <algorithm>

#include "link/ftdi_link.h"

namespace pz4 {
namespace {

constexpr int kMaxPolls = 100;
constexpr std::uint32_t kIdlePauseMs = 5;     // nothing was waiting
constexpr std::uint32_t kTricklePauseMs = 1;  // part of a line has arrived

bool isTerminator(char c) {
    return c == '\0' || c == '\n' || c == '\r';
}

}  // namespace

std::int32_t FtdiLink::readLine(char* buffer, std::int32_t room) {
    if (closing) {
        return 0;
    }
    if (handle_ == nullptr || entries_.FT_GetQueueStatus == nullptr ||
        entries_.FT_Read == nullptr) {
        return 0;
    }
    std::int32_t stored = 0;
    DWORD waiting = 0;
    for (int polls = 0;;) {
        if (closing || handle_ == nullptr) {
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
                return 0;
            }
            const std::int32_t first = stored;
            stored += static_cast<std::int32_t>(got);
            buffer[stored] = '\0';
            if (got != asked || status != FT_OK) {
                return 0;
            }
            // The last-but-one byte is tested first, so a CR LF ending is cut at the CR.
            if (stored > 1 && isTerminator(buffer[stored - 2])) {
                buffer[stored - 2] = '\0';
                return stored;
            }
            if (stored > 0 && isTerminator(buffer[stored - 1])) {
                buffer[stored - 1] = '\0';
                return stored;
            }
            for (std::int32_t i = first; i < stored; ++i) {
                if (isTerminator(buffer[i])) {
                    buffer[i] = '\0';
                    return stored;
                }
            }
            if (stored == room) {
                return stored;
            }
            pause = kTricklePauseMs;
        }
        clock_.sleepMs(pause);
        if (++polls == kMaxPolls) {
            return stored;
        }
    }
}

}  // namespace pz4
