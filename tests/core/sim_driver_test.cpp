// The simulated driver that the other tests run against: when the bytes become readable, and
// that faults and unplugging never crash a caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_driver.h"
#include "sim/sim_supply.h"
#include "sim/virtual_clock.h"

namespace pz4::sim {
namespace {

// One supply opened through the entry points, in virtual time.
class SimDriverTest : public ::testing::Test {
  protected:
    SimDriverTest() : driver(clock), ft(driver.entries()) { driver.addSupply("1234567"); }

    FT_HANDLE openFirst() {
        DWORD count = 0;
        EXPECT_EQ(ft.FT_CreateDeviceInfoList(&count), FT_OK);
        FT_HANDLE h = nullptr;
        EXPECT_EQ(ft.FT_Open(0, &h), FT_OK);
        return h;
    }

    DWORD queued(FT_HANDLE h) {
        DWORD n = 0;
        ft.FT_GetQueueStatus(h, &n);
        return n;
    }

    FT_STATUS write(FT_HANDLE h, std::string bytes, DWORD* written = nullptr) {
        DWORD w = 0;
        FT_STATUS st = ft.FT_Write(h, bytes.data(), static_cast<DWORD>(bytes.size()), &w);
        if (written != nullptr) {
            *written = w;
        }
        return st;
    }

    std::string read(FT_HANDLE h, DWORD n) {
        std::string buf(n, '\0');
        DWORD got = 0;
        EXPECT_EQ(ft.FT_Read(h, buf.data(), n, &got), FT_OK);
        buf.resize(got);
        return buf;
    }

    VirtualClock clock;
    SimDriver driver;
    D2xxEntries ft;
};

TEST_F(SimDriverTest, ReplyBytesArriveAtTheLineRate) {
    driver.latencyTimerMs = 0;  // byte by byte, to see the line rate itself
    FT_HANDLE h = openFirst();
    ASSERT_NE(h, nullptr);
    driver.queueReply("1234567", "1234567,100,200,30\r\n");  // 20 bytes
    const std::uint64_t t0 = clock.tickMs();
    DWORD written = 0;
    // 13 bytes cross the wire in 1.13 ms, 1 ms latency, then 0.087 ms a byte.
    ASSERT_EQ(write(h, std::string("PZ41234567GU") + '\0', &written), FT_OK);
    EXPECT_EQ(written, 13u);
    clock.sleepMs(2);
    EXPECT_EQ(queued(h), 0u);
    clock.sleepMs(1);
    EXPECT_EQ(queued(h), 10u);  // ready at 2.22 + k * 0.087 <= 3 ms
    EXPECT_EQ(read(h, 100), "1234567,10");
    clock.sleepMs(1);
    EXPECT_EQ(read(h, 100), "0,200,30\r\n");
    EXPECT_EQ(queued(h), 0u);

    const auto log = driver.wireLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].kind, WireKind::Open);
    EXPECT_EQ(log[1].kind, WireKind::Write);
    EXPECT_EQ(log[1].tickMs, t0);
    EXPECT_EQ(log[1].bytes, std::string("PZ41234567GU") + '\0');
    EXPECT_EQ(driver.commands(), std::vector<std::string>{"PZ41234567GU"});
}

TEST_F(SimDriverTest, CommandsSplitAtNulAcrossWritesAndRepliesQueueInOrder) {
    FT_HANDLE h = openFirst();
    driver.withSupply("1234567", [](SimSupply& s) { s.setChannel(2, '1', 'U'); });
    write(h, "PZ4x");
    EXPECT_TRUE(driver.commands().empty());
    write(h, std::string("S 2,7") + '\0' + "PZ4xGI" + '\0' + "PZ4");
    clock.sleepMs(40);
    EXPECT_EQ(read(h, 100), "1234567,ok\r\n1234567,1,2,3\r\n");
    EXPECT_EQ(driver.commands(), (std::vector<std::string>{"PZ4xS 2,7", "PZ4xGI"}));
    EXPECT_DOUBLE_EQ(driver.supply("1234567")->channel(2, clock.tickMs()).setVoltage, 7.0);
}

TEST_F(SimDriverTest, PiecesPrefixAndReadLimitShapeTheReply) {
    driver.latencyTimerMs = 0;  // the pieces are timed to the millisecond
    FT_HANDLE h = openFirst();
    driver.withFaults("1234567", [](SimFaults& f) {
        f.pieces = 2;
        f.pieceGapMs = 5;
        f.replyPrefix = "\n";
        f.maxReadBytes = 4;
    });
    driver.queueReply("1234567", "abcdefgh\r\n");  // with the prefix 11 bytes: 5 + 6
    write(h, std::string("PZ4GU") + '\0');
    clock.sleepMs(3);
    EXPECT_EQ(queued(h), 5u);
    EXPECT_EQ(read(h, 100), "\nabc");
    EXPECT_EQ(read(h, 1), "d");
    clock.sleepMs(3);
    EXPECT_EQ(queued(h), 0u);
    clock.sleepMs(4);
    EXPECT_EQ(queued(h), 6u);

    driver.injectBytes("1234567", "!");  // ahead of nothing: readable at once
    EXPECT_EQ(queued(h), 7u);
}

// A late reply, an LF that lags its CR, and unasked bytes after a reply, timed byte by byte.
TEST_F(SimDriverTest, LateLaggingAndStrayBytesComeWhenSet) {
    driver.latencyTimerMs = 0;
    FT_HANDLE h = openFirst();
    driver.withFaults("1234567", [](SimFaults& f) {
        f.replyDelayMs = 600;
        f.lfLagMs = 30;
        f.strayBytes = "#";
        f.strayGapMs = 50;
    });
    driver.queueReply("1234567", "ok\r\n");
    const std::uint64_t start = clock.tickMs();
    write(h, std::string("PZ4GU") + '\0');  // crosses the wire in 0.5 ms
    std::string host;
    auto lookAt = [&](std::uint64_t sinceWriteMs) {
        clock.advance(sinceWriteMs - (clock.tickMs() - start));
        host += read(h, 100);
        return host;
    };
    EXPECT_EQ(lookAt(600), "");
    EXPECT_EQ(lookAt(602), "ok\r");
    EXPECT_EQ(lookAt(631), "ok\r");
    EXPECT_EQ(lookAt(632), "ok\r\n");
    EXPECT_EQ(lookAt(681), "ok\r\n");
    EXPECT_EQ(lookAt(682), "ok\r\n#");
}

TEST_F(SimDriverTest, FaultsGiveDefinedResults) {
    FT_HANDLE h = openFirst();
    // Each step starts from no faults but the ones it names.
    auto only = [&](auto set) {
        SimFaults f;
        set(f);
        driver.setFaults("1234567", f);
    };
    DWORD written = 99;
    only([](SimFaults& f) { f.failWrite = true; });
    EXPECT_EQ(write(h, std::string("PZ4GU") + '\0', &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);

    only([](SimFaults& f) { f.shortWrite = true; });
    EXPECT_EQ(write(h, std::string("PZ4GU") + '\0', &written), FT_OK);
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(driver.commands().empty());  // the NUL never went out

    only([](SimFaults& f) { f.errReplies = true; });
    write(h, std::string("") + '\0');  // ends the half command: answered ERR as well
    write(h, std::string("PZ4GU") + '\0');
    clock.sleepMs(40);
    EXPECT_EQ(read(h, 100), "ERR\r\nERR\r\n");

    only([](SimFaults& f) { f.garbageReplies = true; });
    write(h, std::string("PZ4GU") + '\0');
    clock.sleepMs(40);
    const std::string junk = read(h, 100);
    EXPECT_GE(junk.size(), 20u);
    EXPECT_EQ(junk.find_first_of(std::string("\r\n\0", 3)), std::string::npos);

    only([](SimFaults& f) {
        f.silent = true;
        f.failRead = true;
    });
    write(h, std::string("PZ4GU") + '\0');
    clock.sleepMs(10);
    EXPECT_EQ(queued(h), 0u);
    char buf[8];
    DWORD got = 7;
    EXPECT_EQ(ft.FT_Read(h, buf, sizeof buf, &got), FT_IO_ERROR);
    EXPECT_EQ(got, 0u);

    only([](SimFaults& f) { f.failSetBaudRate = true; });
    EXPECT_EQ(ft.FT_SetBaudRate(h, 115200), FT_IO_ERROR);
    EXPECT_EQ(ft.FT_SetDataCharacteristics(h, 8, 0, 0), FT_OK);
    const auto log = driver.wireLog();
    EXPECT_EQ(log[log.size() - 2].value, 115200u);
    EXPECT_EQ(log.back().value, 8u << 16);

    DWORD count = 77;
    driver.withDriverFaults([](SimDriverFaults& f) { f.failCreateList = true; });
    EXPECT_EQ(ft.FT_CreateDeviceInfoList(&count), FT_IO_ERROR);
    EXPECT_EQ(count, 77u);
}

TEST_F(SimDriverTest, UnplugAndStaleHandlesNeverCrash) {
    driver.latencyTimerMs = 0;  // to unplug it with part of a reply handed over
    driver.addOtherDevice("A1", "FT232R USB UART");
    FT_HANDLE h = openFirst();
    FT_HANDLE again = nullptr;
    EXPECT_EQ(ft.FT_Open(0, &again), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(ft.FT_Open(2, &again), FT_DEVICE_NOT_FOUND);

    write(h, std::string("PZ4GU") + '\0');
    clock.sleepMs(3);
    ASSERT_GT(queued(h), 0u);
    driver.unplug("1234567");  // mid-reply
    DWORD count = 55;
    EXPECT_EQ(ft.FT_GetQueueStatus(h, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 55u);
    char buf[64];
    DWORD got = 9;
    EXPECT_EQ(ft.FT_Read(h, buf, sizeof buf, &got), FT_IO_ERROR);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(write(h, "x"), FT_IO_ERROR);
    EXPECT_EQ(ft.FT_Open(0, &again), FT_DEVICE_NOT_FOUND);  // gone since the listing

    driver.replug("1234567");
    EXPECT_EQ(write(h, "x"), FT_IO_ERROR);  // old handles stay dead
    EXPECT_EQ(ft.FT_Close(h), FT_OK);
    EXPECT_EQ(ft.FT_Close(h), FT_INVALID_HANDLE);
    int local = 0;
    for (FT_HANDLE bad : {h, static_cast<FT_HANDLE>(&local), FT_HANDLE{nullptr}}) {
        EXPECT_EQ(ft.FT_GetQueueStatus(bad, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(ft.FT_Read(bad, buf, sizeof buf, &got), FT_INVALID_HANDLE);
        EXPECT_EQ(ft.FT_SetBaudRate(bad, 115200), FT_INVALID_HANDLE);
    }

    // Back at the end of the order, with nothing of the old reply left.
    DWORD n = 0;
    ASSERT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
    ft.FT_GetDeviceInfoList(nodes.data(), &n);
    ASSERT_EQ(n, 2u);
    EXPECT_STREQ(nodes[0].SerialNumber, "A1");
    EXPECT_STREQ(nodes[1].SerialNumber, "1234567");
    ASSERT_EQ(ft.FT_Open(1, &again), FT_OK);
    EXPECT_EQ(queued(again), 0u);
    EXPECT_EQ(driver.openHandleCount(), 1);

    // A device that is no supply opens but never answers.
    ASSERT_EQ(ft.FT_Open(0, &h), FT_OK);
    write(h, std::string("PZ4GU") + '\0');
    clock.sleepMs(50);
    EXPECT_EQ(queued(h), 0u);
}

TEST_F(SimDriverTest, ReportsMoreNodesThanFortyWhenAsked) {
    driver.addSupply("B");
    FT_HANDLE h = openFirst();
    driver.withDriverFaults([](SimDriverFaults& f) { f.extraReportedNodes = 45; });
    DWORD n = 0;
    ASSERT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    ASSERT_EQ(n, 47u);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n + 1);
    std::memset(&nodes[n], 0xAB, sizeof nodes[n]);
    DWORD filled = 0;
    ft.FT_GetDeviceInfoList(nodes.data(), &filled);
    EXPECT_EQ(filled, 47u);
    EXPECT_EQ(nodes[n].Flags, 0xABABABABu);  // exactly as many nodes as counted

    EXPECT_STREQ(nodes[0].Description, "High Voltage PZ4");
    EXPECT_EQ(nodes[0].Flags & 1u, 1u);
    EXPECT_EQ(nodes[0].ftHandle, h);
    EXPECT_STREQ(nodes[1].SerialNumber, "B");
    EXPECT_EQ(nodes[1].ftHandle, nullptr);
    EXPECT_STREQ(nodes[2].SerialNumber, "X0001");
    EXPECT_STREQ(nodes[46].Description, "FT232R USB UART");
    FT_HANDLE other = nullptr;
    EXPECT_NE(ft.FT_Open(46, &other), FT_OK);
}

TEST_F(SimDriverTest, LongSerialIsCutToTheNodeField) {
    driver.addSupply("ABCDEFGHIJKLMNOPQRSTU");
    DWORD n = 0;
    ft.FT_CreateDeviceInfoList(&n);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
    ft.FT_GetDeviceInfoList(nodes.data(), &n);
    ASSERT_EQ(n, 2u);
    EXPECT_STREQ(nodes[1].SerialNumber, "ABCDEFGHIJKLMNO");
}

// A worker polls while the test thread unplugs, replugs and changes faults and channels.
TEST(SimDriverThreadsTest, ChangesFromAnotherThreadWhileAWorkerPolls) {
    SimDriver driver(platform::systemClock());
    driver.addSupply("42");
    const D2xxEntries ft = driver.entries();
    std::atomic<bool> stop{false};
    std::atomic<int> replies{0};
    std::thread worker([&] {
        FT_HANDLE h = nullptr;
        char buf[64];
        while (!stop) {
            DWORD n = 0;
            if (h == nullptr) {
                if (ft.FT_CreateDeviceInfoList(&n) == FT_OK && n > 0) {
                    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
                    ft.FT_GetDeviceInfoList(nodes.data(), &n);
                    ft.FT_Open(0, &h);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            char cmd[] = "PZ442GU";
            DWORD w = 0;
            if (ft.FT_Write(h, cmd, sizeof cmd, &w) != FT_OK) {
                ft.FT_Close(h);
                h = nullptr;
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ft.FT_GetQueueStatus(h, &n);
            DWORD got = 0;
            if (n > 0 && ft.FT_Read(h, buf, std::min<DWORD>(n, sizeof buf), &got) == FT_OK) {
                ++replies;
            }
        }
        if (h != nullptr) {
            ft.FT_Close(h);
        }
    });
    for (int i = 0; i < 50; ++i) {
        driver.withFaults("42", [i](SimFaults& f) { f.pieces = 1 + i % 3; });
        driver.withSupply("42", [i](SimSupply& s) { s.setChannel(i % 3, '1', 'U'); });
        if (i % 10 == 5) {
            driver.unplug("42");
            driver.replug("42");
        }
        (void)driver.wireLog();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    worker.join();
    EXPECT_GT(replies.load(), 0);
    EXPECT_EQ(driver.openHandleCount(), 0);
}

}  // namespace
}  // namespace pz4::sim
