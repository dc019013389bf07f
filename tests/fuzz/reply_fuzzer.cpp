// Feeds arbitrary reply bytes, arriving in arbitrary pieces, through the reply line reader and
// the reply parsers, the way the exchanges use them, over a driver that serves the bytes from
// the fuzz input. Whatever arrives, the reader must stay inside its buffer, leave a terminated
// text, give up within its poll limit and lose no byte; the parsers must stay within their
// three readings.
//
// Input layout (tests/fuzz/make-corpus writes seeds in this form):
//   byte 0, 1   room = (b0 | b1 << 8) % 500
//   byte 2      driver faults: bits 4-5 kind (0 none, 1 short read, 2 error status,
//               3 count larger than asked), bits 0-3 the read that goes wrong
//   byte 3      serial length L (% 32), then L bytes of serial text
//   next byte   piece count P (% 16), then P piece sizes; a size of 0 is a poll that finds
//               nothing, and whatever is left after the last piece arrives at once
//   the rest    the bytes the supply sends
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "link/ftdi_link.h"
#include "protocol/numeric_reply.h"
#include "protocol/serial_text.h"
#include "protocol/status_text.h"
#include "sim/virtual_clock.h"

namespace {

using namespace pz4;

constexpr int kMaxRoom = 499;
constexpr int kMaxPieces = 15;
constexpr int kMaxReadLines = 8;
// The reader gives a line up after half a second on the clock, within one poll's pause.
constexpr std::uint64_t kMaxMsPerLine = 500 + 5;

enum class Fault { None, ShortRead, ErrorStatus, OverReported };

// What the fuzz input makes of the supply and its driver.
struct Feed {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t arrived = 0;   // bytes that have reached the receive queue
    std::size_t consumed = 0;  // bytes handed out by FT_Read
    std::array<std::uint8_t, kMaxPieces> pieces{};
    int pieceCount = 0;
    int nextPiece = 0;
    Fault fault = Fault::None;
    int faultyRead = 0;
    int reads = 0;
    std::array<char, 16> nodeSerial{};
};

Feed feed;
int handleToken;  // its address is the open device's handle

void fail(const char* what) {
    std::fprintf(stderr, "reply_fuzzer: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

bool isTerminator(char c) {
    return c == '\0' || c == '\n' || c == '\r';
}

FT_STATUS stubCreateDeviceInfoList(DWORD* count) {
    *count = 1;
    return FT_OK;
}

FT_STATUS stubGetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, DWORD* count) {
    FT_DEVICE_LIST_INFO_NODE node{};
    std::memcpy(node.SerialNumber, feed.nodeSerial.data(), sizeof node.SerialNumber);
    std::memcpy(node.Description, kSupplyDescription.data(), kSupplyDescription.size());
    nodes[0] = node;
    *count = 1;
    return FT_OK;
}

FT_STATUS stubOpen(int index, FT_HANDLE* handle) {
    check(index == 0, "opened a node the driver did not list");
    *handle = &handleToken;
    return FT_OK;
}

FT_STATUS stubClose(FT_HANDLE handle) {
    check(handle == &handleToken, "closed a handle the driver never gave out");
    return FT_OK;
}

FT_STATUS stubSetBaudRate(FT_HANDLE, std::uint32_t) {
    return FT_OK;
}

FT_STATUS stubSetDataCharacteristics(FT_HANDLE, std::uint8_t, std::uint8_t, std::uint8_t) {
    return FT_OK;
}

FT_STATUS stubWrite(FT_HANDLE, void*, DWORD toWrite, DWORD* written) {
    *written = toWrite;
    return FT_OK;
}

// Each poll of the queue lets the next piece arrive.
FT_STATUS stubGetQueueStatus(FT_HANDLE handle, DWORD* waiting) {
    check(handle == &handleToken, "polled the queue without an open device");
    if (feed.arrived < feed.size) {
        std::size_t piece = feed.size - feed.arrived;
        if (feed.nextPiece < feed.pieceCount) {
            piece = std::min<std::size_t>(piece, feed.pieces[feed.nextPiece++]);
        }
        feed.arrived += piece;
    }
    *waiting = static_cast<DWORD>(feed.arrived - feed.consumed);
    return FT_OK;
}

FT_STATUS stubRead(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* read) {
    check(handle == &handleToken, "read without an open device");
    check(toRead <= feed.arrived - feed.consumed, "asked for more bytes than were waiting");
    const bool faulty = feed.fault != Fault::None && feed.reads++ == feed.faultyRead;
    DWORD n = toRead;
    if (faulty && feed.fault == Fault::ShortRead && n > 0) {
        --n;
    }
    std::memcpy(buffer, feed.bytes + feed.consumed, n);
    feed.consumed += n;
    *read = n;
    if (faulty && feed.fault == Fault::OverReported) {
        *read = n + 1;  // a broken driver's claim; nothing was written past n
    }
    return faulty && feed.fault == Fault::ErrorStatus ? FT_IO_ERROR : FT_OK;
}

constexpr D2xxEntries kStubEntries = {
    .FT_Open = stubOpen,
    .FT_Close = stubClose,
    .FT_Read = stubRead,
    .FT_Write = stubWrite,
    .FT_SetBaudRate = stubSetBaudRate,
    .FT_SetDataCharacteristics = stubSetDataCharacteristics,
    .FT_GetQueueStatus = stubGetQueueStatus,
    .FT_GetDeviceInfoList = stubGetDeviceInfoList,
    .FT_CreateDeviceInfoList = stubCreateDeviceInfoList,
};

// Takes the next byte of the header, 0 once the input has run out.
std::uint8_t take(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0) {
        return 0;
    }
    --size;
    return *data++;
}

// The reply handling of the exchanges: numeric replies and status replies alike.
void judgeReply(const char* reply, std::int32_t received, const SerialText& serial) {
    Readings readings;
    if (parseNumericReply(reply, serial.view(), readings)) {
        check(readings.count >= 0 && readings.count <= 3, "accepted more than three readings");
        for (int i = 0; i < readings.count; ++i) {
            const std::int32_t v = readings.values[static_cast<std::size_t>(i)];
            check(v >= -999'999'999 && v <= 999'999'999, "a value longer than its token");
        }
    } else {
        check(readings.count >= 0 && readings.count <= 3, "stored more than three readings");
    }
    if (statusReplyAccepted(received)) {
        SharedStatusText status;
        status.copyText(reply);
        const StatusBytes kept = status.snapshot();
        check(std::memchr(kept.data(), '\0', kept.size()) != nullptr, "status text unterminated");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    feed = Feed{};
    const int lo = take(data, size);
    const int hi = take(data, size);
    const std::int32_t room = ((hi << 8) | lo) % (kMaxRoom + 1);
    const std::uint8_t faults = take(data, size);
    feed.fault = static_cast<Fault>((faults >> 4) & 3);
    feed.faultyRead = faults & 0x0f;

    const std::size_t serialLength = std::min<std::size_t>(take(data, size) % 32, size);
    const std::string_view serialBytes(reinterpret_cast<const char*>(data), serialLength);
    data += serialLength;
    size -= serialLength;
    const SerialText serial = SerialText::from(serialBytes);
    // The node's serial field holds 16 bytes and need not end in a NUL.
    std::memcpy(feed.nodeSerial.data(), serial.c_str(),
                std::min(feed.nodeSerial.size(), serial.view().size()));

    feed.pieceCount = take(data, size) % (kMaxPieces + 1);
    for (int i = 0; i < feed.pieceCount; ++i) {
        feed.pieces[static_cast<std::size_t>(i)] = take(data, size);
    }
    feed.bytes = data;
    feed.size = size;

    sim::VirtualClock clock;
    FtdiLink link(kStubEntries, clock);
    if (!link.openBySerial(serial.c_str())) {
        // A serial the 16-byte node field cannot hold, or one cut at a NUL, names no node.
        check(link.openBySerial(""), "the one listed supply did not open");
    }
    check(link.isOpen(), "no device open after a successful open");

    // The line before was cut at its CR with nothing behind it: an LF that comes first now is
    // that line's and is not stored.
    bool lfOwed = false;
    for (int line = 0; line < kMaxReadLines; ++line) {
        const std::size_t before = feed.consumed;
        const std::uint64_t startMs = clock.tickMs();
        // Exactly room + 1 bytes, so the address sanitizer sees any write past them.
        const auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(room) + 1);
        std::memset(buffer.get(), 'Z', static_cast<std::size_t>(room) + 1);

        const std::int32_t received = link.readLine(buffer.get(), room);
        const std::size_t delivered = feed.consumed - before;

        check(received >= 0 && received <= room, "count outside 0..room");
        check(clock.tickMs() - startMs <= kMaxMsPerLine, "longer than half a second");
        if (delivered > 0) {
            check(std::memchr(buffer.get(), '\0', static_cast<std::size_t>(room) + 1) != nullptr,
                  "text not terminated within room + 1 bytes");
        }
        const bool skipped = lfOwed && delivered > 0 && feed.bytes[before] == '\n';
        lfOwed = false;
        if (feed.fault == Fault::None) {
            // Every byte taken from the driver lands in the buffer and is counted, but the LF
            // owed to the line before.
            const std::size_t offset = skipped ? 1 : 0;
            check(static_cast<std::size_t>(received) + offset == delivered ||
                      (received == 0 && delivered == offset),
                  "bytes lost or invented");
            int cuts = 0;
            for (std::int32_t i = 0; i < received; ++i) {
                const char sent =
                    static_cast<char>(feed.bytes[before + offset + static_cast<std::size_t>(i)]);
                const char kept = buffer[static_cast<std::size_t>(i)];
                if (kept != sent) {
                    check(kept == '\0' && isTerminator(sent), "a received byte was changed");
                    ++cuts;
                }
            }
            check(cuts <= 1, "the line was cut twice");
            if (received > 0) {
                check(buffer[static_cast<std::size_t>(received)] == '\0',
                      "no NUL behind the bytes");
                const auto last = static_cast<std::size_t>(received) - 1;
                lfOwed = feed.bytes[before + offset + last] == '\r' &&
                         (last == 0 ||
                          !isTerminator(static_cast<char>(feed.bytes[before + offset + last - 1])));
            }
        }

        if (received > 0) {
            // As the exchanges do: terminate at the count, then judge the text.
            buffer[static_cast<std::size_t>(received)] = '\0';
            judgeReply(buffer.get(), received, serial);
        }
        if (received == 0 && feed.arrived == feed.size && feed.consumed == feed.size) {
            break;  // all sent and all read: further lines would only time out
        }
    }
    return 0;
}
