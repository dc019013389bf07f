// The window rewrites the chosen serial while the worker builds commands from it: every command
// must name one whole serial, the old or the new, never a mix of both.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "protocol/commands.h"
#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"

namespace pz4 {
namespace {

constexpr const char* kShort = "1";
constexpr const char* kLong = "987654321";

// Alternates the two serials until told to stop, as a window whose selection keeps changing.
class SerialFlipper {
  public:
    explicit SerialFlipper(SerialSlot& slot)
        : thread_([this, &slot] {
              while (!stop_.load()) {
                  slot.store(kShort);
                  slot.store(kLong);
                  flips_.fetch_add(1);
              }
          }) {}
    ~SerialFlipper() {
        stop_ = true;
        thread_.join();
    }
    long flips() const { return flips_.load(); }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<long> flips_{0};
    std::thread thread_;
};

TEST(SerialRaceTest, CommandsBuiltWhileTheSerialChangesNameOneWholeSerial) {
    auto session = DeviceSession::create(std::make_unique<FtdiLink>("no-such-lib.so"), nullptr);
    session->serial.store(kLong);
    const std::set<std::string> setCommands = {"PZ41S 1,800", "PZ4987654321S 1,800"};
    const std::set<std::string> queries = {"PZ41GU", "PZ4987654321GU"};
    std::set<std::string> seen;

    SerialFlipper flipper(session->serial);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    long built = 0;
    while (std::chrono::steady_clock::now() < end || flipper.flips() < 100) {
        CommandText command;
        ASSERT_TRUE(formatSetCommand(command, session->serial.load(), 1, 800));
        ASSERT_TRUE(setCommands.contains(command.data())) << command.data();
        seen.insert(command.data());
        ASSERT_TRUE(formatVoltageQuery(command, session->serial.load()));
        ASSERT_TRUE(queries.contains(command.data())) << command.data();
        ++built;
    }
    EXPECT_GT(built, 100);
    EXPECT_EQ(seen, setCommands);  // both serials were met, so the race was run
}

// The same through the exchanges, with the worker talking to a simulated supply.
TEST(SerialRaceTest, CommandsOnTheWireNameOneWholeSerial) {
    sim::VirtualClock clock;
    sim::SimDriver driver(clock);
    driver.addSupply(kShort);
    auto session =
        DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    ASSERT_TRUE(session->link->openBySerial(kShort));
    session->serial.store(kShort);

    {
        SerialFlipper flipper(session->serial);
        for (int i = 0; i < 300 || flipper.flips() < 10; ++i) {
            session->SendSetCommand(1, 800);
            CommandText query;
            Readings readings;
            if (formatVoltageQuery(query, session->serial.load())) {
                session->QueryValues(query.data(), readings);
            }
        }
    }
    const std::set<std::string> allowed = {"PZ41S 1,800", "PZ4987654321S 1,800", "PZ41GU",
                                           "PZ4987654321GU"};
    std::set<std::string> seen;
    for (const std::string& command : driver.commands()) {
        ASSERT_TRUE(allowed.contains(command)) << command;
        seen.insert(command);
    }
    EXPECT_GE(seen.size(), 2u);
    EXPECT_EQ(session->busy.load(), 0);
}

}  // namespace
}  // namespace pz4
