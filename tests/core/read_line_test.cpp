// The reply line reader against a scripted driver that decides, poll by poll, which bytes have
// arrived, and against the simulated one for a supply that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "tests/core/sim_bench.h"

namespace pz4 {
namespace {

using testing_support::TraceClock;

// What the scripted driver does; the entry points are plain functions, so it lives here.
struct Script {
    std::deque<std::string> arrivals;  // appended to the queue at each queue poll, in turn
    std::string waiting;
    FT_STATUS readStatus = FT_OK;
    DWORD shortBy = 0;     // hands out this many bytes fewer than asked
    DWORD claimExtra = 0;  // reports this many bytes more than it handed out
    int queuePolls = 0;
    std::vector<DWORD> asked;
};
Script script;

D2xxEntries scriptedEntries() {
    D2xxEntries e;
    e.FT_CreateDeviceInfoList = [](DWORD* count) -> FT_STATUS {
        *count = 1;
        return FT_OK;
    };
    e.FT_GetDeviceInfoList = [](FT_DEVICE_LIST_INFO_NODE* nodes, DWORD* count) -> FT_STATUS {
        std::memset(nodes, 0, sizeof *nodes);
        std::strcpy(nodes[0].SerialNumber, "S");
        std::strcpy(nodes[0].Description, "High Voltage PZ4");
        *count = 1;
        return FT_OK;
    };
    e.FT_Open = [](int, FT_HANDLE* handle) -> FT_STATUS {
        *handle = &script;
        return FT_OK;
    };
    e.FT_Close = [](FT_HANDLE) -> FT_STATUS { return FT_OK; };
    e.FT_GetQueueStatus = [](FT_HANDLE, DWORD* count) -> FT_STATUS {
        ++script.queuePolls;
        if (!script.arrivals.empty()) {
            script.waiting += script.arrivals.front();
            script.arrivals.pop_front();
        }
        *count = static_cast<DWORD>(script.waiting.size());
        return FT_OK;
    };
    e.FT_Read = [](FT_HANDLE, void* buffer, DWORD toRead, DWORD* got) -> FT_STATUS {
        script.asked.push_back(toRead);
        DWORD n = std::min<DWORD>(toRead, static_cast<DWORD>(script.waiting.size()));
        n -= std::min(n, script.shortBy);
        std::memcpy(buffer, script.waiting.data(), n);
        script.waiting.erase(0, n);
        *got = n + script.claimExtra;
        return script.readStatus;
    };
    return e;
}

constexpr std::size_t kGuard = 8;

class ReadLineTest : public ::testing::Test {
  protected:
    void SetUp() override { open(scriptedEntries()); }

    void open(const D2xxEntries& entries) {
        script = Script{};
        link = std::make_unique<FtdiLink>(entries, clock);
        ASSERT_TRUE(link->openBySerial("S"));
        clock.pauses.clear();
    }

    // Reads into a buffer of room + 1 bytes followed by guard bytes, all 'x' at first.
    std::int32_t read(std::int32_t room) {
        buffer.assign(static_cast<std::size_t>(std::max(room, 0)) + 1 + kGuard, 'x');
        const std::int32_t count = link->readLine(buffer.data(), room);
        for (std::size_t i = buffer.size() - kGuard; i < buffer.size(); ++i) {
            EXPECT_EQ(buffer[i], 'x') << "written past room + 1 at " << i;
        }
        return count;
    }
    std::string text() const {
        return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }

    TraceClock clock;
    std::unique_ptr<FtdiLink> link;
    std::vector<char> buffer;
};

using Pauses = std::vector<std::uint32_t>;

TEST_F(ReadLineTest, CutsTheLineAtItsTerminator) {
    struct Case {
        const char* name;
        std::int32_t room;
        std::deque<std::string> arrivals;
        std::int32_t count;
        std::string text;
        Pauses pauses;
    };
    const Case cases[] = {
        {"whole reply ending in CR LF", 499, {"42,ok\r\n"}, 7, "42,ok", {}},
        {"silence before the reply", 499, {"", "", "7\n"}, 2, "7", {5, 5}},
        {"pieces without terminator until the last",
         499,
         {"42,1", "00,2", "\r\n"},
         10,
         "42,100,2",
         {1, 1}},
        {"a silent poll between pieces", 499, {"42", "", ",5\r\n"}, 6, "42,5", {1, 5}},
        // The end tests come before the scan, so the second line's CR wins.
        {"two lines in one read", 499, {"A,1\rB,2\r\n"}, 9, "A,1\rB,2", {}},
        {"terminator inside the read, bytes after it", 499, {"42,ok\r\nXY"}, 9, "42,ok", {}},
        {"lone LF", 499, {"\n"}, 1, "", {}},
        {"NUL ends a line", 499, {std::string("ok\0", 3)}, 3, "ok", {}},
        {"exactly room bytes", 5, {"123", "45"}, 5, "12345", {1}},
        {"terminator as the last byte of a full buffer", 5, {"1234\n"}, 5, "1234", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open(scriptedEntries());
        script.arrivals = c.arrivals;
        EXPECT_EQ(read(c.room), c.count);
        EXPECT_EQ(text(), c.text);
        EXPECT_EQ(clock.pauses, c.pauses);
    }
}

// Bytes left in the queue start the next line, except the LF of a line that was cut at its CR:
// arriving late behind it, that LF is no empty line of its own.
TEST_F(ReadLineTest, WhatALineLeavesWaitingStartsTheNextOne) {
    script.arrivals = {"1234567\r"};
    EXPECT_EQ(read(5), 5);
    EXPECT_EQ(text(), "12345");
    EXPECT_EQ(script.asked, std::vector<DWORD>{5});
    EXPECT_EQ(read(499), 3);
    EXPECT_EQ(text(), "67");
    script.arrivals = {"\n", "", "42,ok\r\n"};
    EXPECT_EQ(read(499), 7);
    EXPECT_EQ(text(), "42,ok");
    // Only the one LF: a second one is an empty line again.
    script.arrivals = {"\n"};
    EXPECT_EQ(read(499), 1);
    EXPECT_EQ(text(), "");
}

// Half a second on the clock, however long the sleeps between the polls really last (Windows
// rounds a 5 ms sleep up to its 15.6 ms tick).
TEST_F(ReadLineTest, SilenceGivesUpAfterHalfASecond) {
    for (const std::uint32_t oversleepMs : {0u, 11u}) {
        SCOPED_TRACE(oversleepMs);
        open(scriptedEntries());
        clock.onSleep = [this, oversleepMs](std::uint32_t) { clock.now += oversleepMs; };
        std::uint64_t start = clock.now;
        EXPECT_EQ(read(499), 0);
        EXPECT_EQ(buffer[0], 'x');  // untouched
        EXPECT_GE(clock.now - start, 500u);
        EXPECT_LE(clock.now - start, 500u + 5u + oversleepMs);

        // A line that stops short reports what came.
        open(scriptedEntries());
        script.arrivals = {"42,1"};
        start = clock.now;
        EXPECT_EQ(read(499), 4);
        EXPECT_EQ(text(), "42,1");
        EXPECT_GE(clock.now - start, 500u);
        EXPECT_LE(clock.now - start, 500u + 5u + oversleepMs);
    }
}

TEST_F(ReadLineTest, NoRoomStoresNothing) {
    for (std::int32_t room : {0, -1}) {
        SCOPED_TRACE(room);
        open(scriptedEntries());
        script.arrivals = {"abc\n"};
        EXPECT_EQ(read(room), 0);
        EXPECT_EQ(buffer[0], 'x');
        EXPECT_TRUE(script.asked.empty());
    }
}

// A read that fails, comes back short or claims more than was asked reports nothing; the
// claim never moves the reader past its buffer.
TEST_F(ReadLineTest, BrokenReadsFail) {
    struct Case {
        const char* name;
        FT_STATUS status;
        DWORD shortBy;
        DWORD claimExtra;
    };
    for (const Case& c : {Case{"error status", FT_IO_ERROR, 0, 0}, Case{"short read", 0, 1, 0},
                          Case{"one byte too many", 0, 0, 1}, Case{"far too many", 0, 0, 100000}}) {
        SCOPED_TRACE(c.name);
        open(scriptedEntries());
        script.arrivals = {"abcd"};
        script.readStatus = c.status;
        script.shortBy = c.shortBy;
        script.claimExtra = c.claimExtra;
        EXPECT_EQ(read(4), 0);
    }
}

TEST_F(ReadLineTest, ClosingOrNoDeviceReturnsAtOnce) {
    link->closing = true;
    EXPECT_EQ(read(499), 0);
    EXPECT_EQ(script.queuePolls, 0);

    // Closing raised while a line trickles in ends the read at the next poll.
    open(scriptedEntries());
    script.arrivals = {"42", ",1"};
    clock.onSleep = [this](std::uint32_t) { link->closing = true; };
    EXPECT_EQ(read(499), 0);
    EXPECT_EQ(script.queuePolls, 1);
    clock.onSleep = nullptr;

    open(scriptedEntries());
    link->closeDevice();
    EXPECT_EQ(read(499), 0);
    EXPECT_EQ(script.queuePolls, 0);

    for (auto edit : {+[](D2xxEntries& e) { e.FT_GetQueueStatus = nullptr; },
                      +[](D2xxEntries& e) { e.FT_Read = nullptr; }}) {
        D2xxEntries entries = scriptedEntries();
        edit(entries);
        open(entries);
        script.arrivals = {"42,ok\r\n"};
        EXPECT_EQ(read(499), 0);
        EXPECT_TRUE(script.asked.empty());
    }
}

// A supply unplugged while its reply trickles in, or a driver handing out less than it
// promised, fails the read instead of reporting half a line.
TEST(ReadLineSimTest, ASupplyThatGoesAwayMidLineFailsTheRead) {
    for (bool unplug : {true, false}) {
        SCOPED_TRACE(unplug ? "unplugged" : "short read");
        testing_support::SimBench bench;
        bench.driver.addSupply("42");
        auto link = bench.makeLink();
        ASSERT_TRUE(link->openBySerial("42"));
        bench.driver.injectBytes("42", "42,1");
        bench.clock.now += 20;  // past the bridge's latency timer: the bytes are handed over
        if (unplug) {
            bench.clock.onSleep = [&](std::uint32_t) {
                bench.driver.unplug("42");
                bench.driver.injectBytes("42", "00\r\n");
            };
        } else {
            bench.driver.faults("42").maxReadBytes = 2;
        }
        char buffer[500];
        EXPECT_EQ(link->readLine(buffer, 499), 0);
        EXPECT_LE(bench.clock.totalPaused(), 1u);
    }
}

}  // namespace
}  // namespace pz4
