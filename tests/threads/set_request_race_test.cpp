// An operator entering set values as fast as possible while the worker sends them: every
// value entered must reach the wire once, be replaced by the operator's next one, or still be
// pending. None may vanish, none may go out twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

constexpr int kValues = 10999;  // per channel: every one is small enough to be sent
constexpr auto kStorePause = std::chrono::microseconds(20);
constexpr std::size_t kMinSent = 100;

// Channel 1 gets negative values, so that the sign takes part.
std::int64_t entered(std::size_t channel, int i) {
    return channel == 1 ? -i : i;
}

TEST(SetRequestRaceTest, EveryEnteredValueIsSentReplacedOrPending) {
    fillChannelTables(NO_VALUE);
    StopRequested = false;
    WorkerRunning = true;

    sim::VirtualClock clock;  // only the worker thread sleeps on it
    sim::SimDriver driver(clock);
    sim::SimSupply& supply = driver.addSupply("42");
    supply.rampVoltsPerSecond = 0;
    for (int ch = 0; ch < 3; ++ch) {
        supply.setChannel(ch, '1', 'U');
    }
    std::array<std::vector<std::int64_t>, 3> sent;
    // Runs on the worker thread, under the driver's lock.
    driver.setCommandObserver([&](std::uint64_t, std::string_view, std::string_view cmd) {
        if (cmd.starts_with("PZ442S ")) {
            const int channel = cmd[7] - '0';
            sent[static_cast<std::size_t>(channel)].push_back(
                std::atoll(std::string(cmd.substr(9)).c_str()));
        }
    });
    auto session =
        DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    session->deviceCount = session->link->listDevices();
    session->serial.store("42");
    test::RecordingView view;
    view.setRecording(false);
    PollWorker worker(*session, view, clock);

    std::atomic<bool> writerDone{false};
    std::thread workerThread([&] {
        worker.start();
        while (!writerDone.load()) {
            worker.runPass();
        }
    });

    // The operator's side: stores as the window does, once the status lets the fields take
    // values, noting what each store replaced, at a pace that lets the worker take a good
    // share of the values while stores keep coming.
    while (!session->status.channelTakesSetValues(0) || !session->status.channelTakesSetValues(1) ||
           !session->status.channelTakesSetValues(2)) {
        std::this_thread::yield();
    }
    std::array<std::vector<std::int64_t>, 3> replaced;
    int stored = 0;
    while (stored < kValues) {
        ++stored;
        for (std::size_t ch = 0; ch < 3; ++ch) {
            const std::int64_t before = SetRequest[ch].exchange(entered(ch, stored));
            if (before != NO_VALUE) {
                replaced[ch].push_back(before);
            }
        }
        const auto until = std::chrono::steady_clock::now() + kStorePause;
        while (std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
    }
    writerDone = true;
    workerThread.join();
    worker.exit();

    for (std::size_t ch = 0; ch < 3; ++ch) {
        EXPECT_GE(sent[ch].size(), kMinSent) << "channel " << ch << ": too little overlap";
        // How often each entered value was accounted for: it must be exactly once.
        std::vector<int> seen(kValues + 1, 0);
        const auto account = [&](std::int64_t v) {
            const std::int64_t i = ch == 1 ? -v : v;
            ASSERT_TRUE(i >= 1 && i <= stored) << "channel " << ch << ": never entered " << v;
            ++seen[static_cast<std::size_t>(i)];
        };
        std::for_each(sent[ch].begin(), sent[ch].end(), account);
        std::for_each(replaced[ch].begin(), replaced[ch].end(), account);
        if (SetRequest[ch] != NO_VALUE) {
            account(SetRequest[ch]);
        }
        const auto lost = std::count(seen.begin() + 1, seen.end(), 0);
        const auto twice = std::count_if(seen.begin() + 1, seen.end(), [](int n) { return n > 1; });
        EXPECT_EQ(lost, 0) << "channel " << ch << ": values neither sent nor pending";
        EXPECT_EQ(twice, 0) << "channel " << ch << ": values sent and replaced both";
    }
}

}  // namespace
}  // namespace pz4
