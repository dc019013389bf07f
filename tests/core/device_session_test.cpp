// The session shared by window and worker: its creation with and without the driver, its
// contents, the shared texts, and a destruction that waits for the bus.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_session.h"
#include "sim/virtual_clock.h"
#include "tests/core/sim_bench.h"

namespace pz4 {
namespace {

using testing_support::SimBench;

constexpr char kFF = static_cast<char>(0xFF);

FT_CreateDeviceInfoList_t realCreateList = nullptr;
int listings = 0;

FT_STATUS countingCreateList(DWORD* count) {
    ++listings;
    return realCreateList(count);
}

TEST(DeviceSessionTest, WithoutTheDriverTheOperatorIsToldOnce) {
    std::vector<std::string> shown;
    auto session = DeviceSession::create(std::make_unique<FtdiLink>("no-such-lib.so"),
                                         [&](const char* text) { shown.emplace_back(text); });
    ASSERT_NE(session, nullptr);
    ASSERT_NE(session->link, nullptr);
    EXPECT_EQ(shown, std::vector<std::string>{"The FTDI-driver for the PZ4 was not found.\n"
                                              "Please contact the Quorvin support."});
    EXPECT_EQ(session->link->listDevices(), 0);

    // Nobody to tell: creation still completes.
    EXPECT_NE(DeviceSession::create(std::make_unique<FtdiLink>("no-such-lib.so"), nullptr),
              nullptr);
}

TEST(DeviceSessionTest, WithTheDriverItListsOnceAndSaysNothing) {
    SimBench bench;
    bench.driver.addSupply("42");
    listings = 0;
    auto session = DeviceSession::create(bench.makeLink([](D2xxEntries& e) {
        realCreateList = e.FT_CreateDeviceInfoList;
        e.FT_CreateDeviceInfoList = countingCreateList;
    }),
                                         [](const char* text) { ADD_FAILURE() << text; });
    EXPECT_EQ(listings, 1);
    EXPECT_STREQ(session->link->serials()[0].data(), "42");
}

TEST(DeviceSessionTest, StartsWithNothingChosenAndNoStatus) {
    auto session = DeviceSession::create(std::make_unique<FtdiLink>("no-such-lib.so"), nullptr);
    EXPECT_EQ(session->busy.load(), 0);
    EXPECT_TRUE(session->serial.load().empty());
    // 0xFF in every position the window and the status handling read: nothing matches yet.
    for (const StatusBytes& bytes : {session->status.snapshot(), session->previousStatus}) {
        EXPECT_EQ(bytes[0], '\0');
        for (std::size_t i = 1; i < bytes.size(); ++i) {
            EXPECT_EQ(bytes[i], kFF) << "position " << i;
        }
    }

    session->status.copyText("1 S:110 MOD:UIU");
    session->previousStatus = session->status.snapshot();
    session->ForgetPreviousStatus();
    for (std::size_t i = 0; i < kStatusSize; ++i) {
        EXPECT_EQ(session->previousStatus[i], kFF) << "position " << i;
    }
    EXPECT_EQ(session->status.at(0), '1');
}

// A status copy keeps at most 63 characters and its NUL; what lies behind the NUL stays as an
// earlier, longer text left it.
TEST(DeviceSessionTest, StatusCopiesAreBoundedAndKeepTheBytesBehind) {
    SharedStatusText status;
    const std::string longText = "1 S:120 MOD:UIx" + std::string(60, '#');
    status.copyText(longText.c_str());
    StatusBytes bytes = status.snapshot();
    EXPECT_EQ(std::string(bytes.data(), 63), longText.substr(0, 63));
    EXPECT_EQ(bytes[63], '\0');

    status.copyText("0");
    bytes = status.snapshot();
    EXPECT_EQ(bytes[0], '0');
    EXPECT_EQ(bytes[1], '\0');
    EXPECT_EQ(std::string(&bytes[4], 3), "120");
    EXPECT_EQ(std::string(&bytes[12], 3), "UIx");
}

TEST(DeviceSessionTest, TheSerialSlotHoldsWholeTextsOfAtMost24Characters) {
    SerialSlot slot;
    slot.store("1234567890123456789012345678");
    EXPECT_EQ(slot.load().view(), "123456789012345678901234");

    // Emptying after a failed open must not throw away a choice made in the meantime.
    slot.store("42");
    const SerialText tried = slot.load();
    slot.store("43");
    EXPECT_FALSE(slot.clearIf(tried));
    EXPECT_EQ(slot.load().view(), "43");
    EXPECT_TRUE(slot.clearIf(slot.load()));
    EXPECT_TRUE(slot.load().empty());
}

TEST(DeviceSessionTest, TheActiveSessionLivesFromCreationToDestruction) {
    SimBench bench;
    bench.driver.addSupply("42");
    ASSERT_EQ(ActiveSession.load(), nullptr);
    auto session = createActiveSession(bench.makeLink(), nullptr);
    EXPECT_EQ(ActiveSession.load(), session.get());
    ASSERT_TRUE(session->link->openBySerial("42"));

    destroyActiveSession(session);
    EXPECT_EQ(ActiveSession.load(), nullptr);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(bench.driver.openHandleCount(), 0);
    destroyActiveSession(session);  // nothing left to destroy
}

// Destruction must not pull the link away from an exchange in progress.
TEST(DeviceSessionTest, DestructionWaitsForTheBusThenClosesTheDevice) {
    sim::VirtualClock clock;
    sim::SimDriver driver(clock);
    driver.addSupply("42");
    auto session =
        DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    ASSERT_TRUE(session->link->openBySerial("42"));
    std::atomic<std::uint8_t>& busy = session->busy;
    busy.store(1);

    std::atomic<bool> released{false};
    std::atomic<int> openWhileHeld{-1};
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        openWhileHeld = driver.openHandleCount();
        released = true;
        busy.store(0);  // the last touch of the session
    });
    session.reset();
    EXPECT_TRUE(released.load());
    holder.join();
    EXPECT_EQ(openWhileHeld.load(), 1);
    EXPECT_EQ(driver.openHandleCount(), 0);
}

}  // namespace
}  // namespace pz4
