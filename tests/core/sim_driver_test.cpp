// The simulated supply and driver that the other tests run against: what they answer, when
// the bytes become readable, and that faults and unplugging never crash a caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/library.h"
#include "sim/sim_driver.h"
#include "sim/sim_environment.h"
#include "sim/sim_supply.h"
#include "sim/virtual_clock.h"
#include "tests/support/os.h"

namespace pz4::sim {
namespace {

TEST(SimSupplyTest, AnswersEveryCommandWithItsOwnSerial) {
    SimSupply s("42");
    s.setChannel(0, '1', 'U');
    s.setChannel(1, '1', 'I');
    s.setChannel(2, '2', 'U');
    s.rampVoltsPerSecond = 0;  // no ramp: readings follow the set voltage at once
    s.setLoad(1, 3.0);

    EXPECT_EQ(s.handleCommand("PZ442S 0,500", 0), "42,ok\r\n");
    EXPECT_EQ(s.handleCommand("PZ4999S 1,-100", 0), "42,ok\r\n");
    EXPECT_EQ(s.handleCommand("PZ442S 1,+100", 0), "42,ok\r\n");
    EXPECT_EQ(s.handleCommand("PZ442S 3,100", 0), "ERR\r\n");
    EXPECT_EQ(s.handleCommand("PZ442S 1,1.5", 0), "ERR\r\n");
    EXPECT_EQ(s.handleCommand("PZ442S 1,", 0), "ERR\r\n");
    EXPECT_EQ(s.handleCommand("PZ442S 1,1234567890123", 0), "ERR\r\n");
    EXPECT_EQ(s.handleCommand("PZ442XY", 0), "ERR\r\n");
    EXPECT_EQ(s.handleCommand("XX442GU", 0), "ERR\r\n");
    EXPECT_EQ(s.handleCommand("", 0), "ERR\r\n");

    // Channel 1 is on at 100 V into 3 Mohm: 33.3 uA and its standing 2 uA, reported as 35. The
    // error channel holds its 0 V and draws only its standing 3 uA.
    EXPECT_EQ(s.handleCommand("PZ4other GU", 1), "42,500,100,0\r\n");
    EXPECT_EQ(s.handleCommand("PZ442GI", 1), "42,51,35,3\r\n");

    const std::string status = *s.handleCommand("PZ442GSS", 1);
    ASSERT_GT(status.size(), 30u);
    EXPECT_LT(status.size(), 64u);
    EXPECT_TRUE(status.ends_with("\r\n"));
    EXPECT_EQ(status[0], '1');
    EXPECT_EQ(status.substr(4, 3), "112");
    EXPECT_EQ(status.substr(12, 3), "UIU");
    s.setFirmwareDigit('A');
    EXPECT_EQ(s.statusText(1)[0], 'A');
}

TEST(SimSupplyTest, TellsWhichSupplyACommandNames) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"PZ442GU", "42"},       {"PZ442GI", "42"},   {"PZ41234GSS", "1234"},
        {"PZ442S 1,-800", "42"}, {"PZ4S 0,5", ""},    {"PZ4GU", ""},
        {"PZ442XY", nullptr},    {"XX42GU", nullptr}, {"PZ442S 1,1.5", nullptr},
    };
    for (const auto& [command, serial] : cases) {
        SCOPED_TRACE(command);
        const auto named = namedSerial(command);
        ASSERT_EQ(named.has_value(), serial != nullptr);
        if (serial != nullptr) {
            EXPECT_EQ(*named, serial);
        }
    }
    EXPECT_FALSE(misaddressed("PZ442GU", "42"));
    EXPECT_TRUE(misaddressed("PZ41234GU", "42"));
    EXPECT_FALSE(misaddressed("garbage", "42"));
}

TEST(SimSupplyTest, RampsTowardSetVoltageOnlyWhileOn) {
    SimSupply s("7");
    s.setChannel(0, '1', 'U');
    s.setSetVoltage(0, 500, 1000);  // 100 V/s by default
    EXPECT_EQ(s.handleCommand("PZ47GU", 3000), "7,200,0,0\r\n");
    EXPECT_EQ(s.handleCommand("PZ47GU", 9000), "7,500,0,0\r\n");

    s.update(9000);
    s.setChannel(0, '0', 'U');
    EXPECT_DOUBLE_EQ(s.channel(0, 10000).measuredVoltage, 400.0);
    s.update(10000);
    s.setChannel(0, '2', 'U');
    EXPECT_DOUBLE_EQ(s.channel(0, 20000).measuredVoltage, 400.0);

    // The flicker stays within the amplitude and averages out over three readings; channels
    // that are not on read steady.
    s.setChannel(0, '1', 'U');
    s.setSetVoltage(0, 400, 20000);
    s.noise = 2;
    std::vector<std::string> readings;
    for (int i = 0; i < 3; ++i) {
        readings.push_back(*s.handleCommand("PZ47GU", 20000));
    }
    std::sort(readings.begin(), readings.end());
    EXPECT_EQ(readings,
              (std::vector<std::string>{"7,398,0,0\r\n", "7,400,0,0\r\n", "7,402,0,0\r\n"}));
}

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

TEST(SimEnvironmentTest, BuildsDevicesAndSkipsMalformedEntries) {
    VirtualClock clock;
    SimDriver driver(clock);
    const std::string logPath =
        testing::TempDir() + "pz4sim_env_" + std::to_string(testing_support::processId());
    std::remove(logPath.c_str());
    SimSettings settings;
    settings.supplies =
        "42=1U@500,1I,0U; 77 ;bad=1U,1U;=1U,1U,1U;toolongserial12345;x=1U@abc,1U,1U;"
        "y=1U,1U,1U,1U;;9=2U,1U@-20,0I";
    settings.otherDevices = "A1:FT232R USB UART;nocolon;B2:";
    settings.extraDevices = "3";
    settings.noise = "oops";
    settings.logPath = logPath;
    configure(driver, settings);

    D2xxEntries ft = driver.entries();
    DWORD n = 0;
    ASSERT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
    ft.FT_GetDeviceInfoList(nodes.data(), &n);
    std::vector<std::string> serials;
    for (const auto& node : nodes) {
        serials.emplace_back(node.SerialNumber);
    }
    EXPECT_EQ(serials,
              (std::vector<std::string>{"42", "77", "9", "A1", "B2", "X0001", "X0002", "X0003"}));

    EXPECT_EQ(driver.supply("42")->statusText(clock.tickMs()).substr(4, 11), "110 MOD:UIU");
    EXPECT_EQ(driver.supply("77")->statusText(clock.tickMs()).substr(4, 11), "111 MOD:UUU");
    EXPECT_EQ(driver.supply("9")->channel(1, clock.tickMs()).setVoltage, -20.0);
    EXPECT_EQ(driver.supply("42")->noise, 0);
    clock.advance(2000);  // ramping from 0 V
    EXPECT_DOUBLE_EQ(driver.supply("42")->channel(0, clock.tickMs()).measuredVoltage, 200.0);

    FT_HANDLE h = nullptr;
    ASSERT_EQ(ft.FT_Open(0, &h), FT_OK);
    char cmd[] = "PZ442GU";
    DWORD w = 0;
    ft.FT_Write(h, cmd, sizeof cmd, &w);
    std::ifstream log(logPath);
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line, std::to_string(clock.tickMs()) + " 42 PZ442GU");
    std::remove(logPath.c_str());
}

TEST(SimEnvironmentTest, NothingSetMeansNothingConfigured) {
    VirtualClock clock;
    SimDriver driver(clock);
    configure(driver, SimSettings{});
    DWORD n = 5;
    D2xxEntries ft = driver.entries();
    ASSERT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    EXPECT_EQ(n, 0u);
}

// The stand-in library as the program loads it: by file, over the real clock.
TEST(SimLibraryTest, ExportsTheDriverAndIsConfiguredFromTheEnvironment) {
    const std::string logPath =
        testing::TempDir() + "pz4sim_lib_" + std::to_string(testing_support::processId());
    std::remove(logPath.c_str());
    testing_support::setEnv("PZ4SIM_SUPPLIES", "42=1U,1I,0U;77");
    testing_support::setEnv("PZ4SIM_LOG", logPath.c_str());

    const platform::ModuleHandle lib = platform::loadLibrary(PZ4_SIM_DRIVER_FILE);
    ASSERT_NE(lib, nullptr) << PZ4_SIM_DRIVER_FILE;
    const auto sym = [lib](const char* name) { return platform::findSymbol(lib, name); };
    for (const char* name : kD2xxEntryNames) {
        EXPECT_NE(sym(name), nullptr) << name;
    }
    // Nothing of the simulator's own code is visible from outside.
    EXPECT_EQ(sym("_ZN3pz43sim9SimDriver7entriesEv"), nullptr);
    auto control = reinterpret_cast<int (*)(const char*)>(sym("pz4sim_control"));
    auto commandCount = reinterpret_cast<int (*)()>(sym("pz4sim_command_count"));
    auto create = reinterpret_cast<FT_CreateDeviceInfoList_t>(sym("FT_CreateDeviceInfoList"));
    auto list = reinterpret_cast<FT_GetDeviceInfoList_t>(sym("FT_GetDeviceInfoList"));
    auto open = reinterpret_cast<FT_Open_t>(sym("FT_Open"));
    auto write = reinterpret_cast<FT_Write_t>(sym("FT_Write"));
    auto queue = reinterpret_cast<FT_GetQueueStatus_t>(sym("FT_GetQueueStatus"));
    auto read = reinterpret_cast<FT_Read_t>(sym("FT_Read"));
    auto close = reinterpret_cast<FT_Close_t>(sym("FT_Close"));
    ASSERT_TRUE(control && commandCount && create && list && open && write && queue && read &&
                close);

    DWORD n = 0;
    ASSERT_EQ(create(&n), FT_OK);
    ASSERT_EQ(n, 2u);
    FT_DEVICE_LIST_INFO_NODE nodes[2];
    list(nodes, &n);
    EXPECT_STREQ(nodes[0].SerialNumber, "42");
    EXPECT_STREQ(nodes[1].SerialNumber, "77");
    EXPECT_STREQ(nodes[1].Description, "High Voltage PZ4");

    FT_HANDLE h = nullptr;
    ASSERT_EQ(open(0, &h), FT_OK);
    char cmd[] = "PZ442GSS";
    DWORD w = 0;
    ASSERT_EQ(write(h, cmd, sizeof cmd, &w), FT_OK);
    std::string reply;
    for (int i = 0; i < 500 && !reply.ends_with('\n'); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        DWORD waiting = 0;
        queue(h, &waiting);
        std::string chunk(waiting, '\0');
        DWORD got = 0;
        read(h, chunk.data(), waiting, &got);
        reply += chunk.substr(0, got);
    }
    EXPECT_EQ(reply.substr(0, 15), "1 S:110 MOD:UIU");
    EXPECT_EQ(commandCount(), 1);

    EXPECT_EQ(control("state 42 2 1 U"), 0);
    EXPECT_EQ(control("silent 42 1"), 0);
    EXPECT_EQ(control("err 42 0"), 0);
    EXPECT_EQ(control("unplug 42"), 0);
    EXPECT_EQ(write(h, cmd, sizeof cmd, &w), 4u);
    EXPECT_EQ(control("replug 42"), 0);
    for (const char* bad : {"", "unplug", "unplug nope", "silent 42 2", "state 42 3 1 U",
                            "state 42 0 11 U", "frob 42", "unplug 42 extra"}) {
        EXPECT_EQ(control(bad), -1) << bad;
    }
    EXPECT_EQ(control(nullptr), -1);
    EXPECT_EQ(close(h), FT_OK);

    std::ifstream log(logPath);
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_TRUE(line.ends_with(" 42 PZ442GSS")) << line;

    platform::unloadLibrary(lib);
    testing_support::unsetEnv("PZ4SIM_SUPPLIES");
    testing_support::unsetEnv("PZ4SIM_LOG");
    std::remove(logPath.c_str());
}

}  // namespace
}  // namespace pz4::sim
