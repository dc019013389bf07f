// The simulated supply that the other tests run against: what it answers, how its readings
// ramp, and which supply a command names.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_supply.h"

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

}  // namespace
}  // namespace pz4::sim
