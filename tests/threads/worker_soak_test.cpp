// The worker as a real thread in real time against simulated supplies, while faults come and
// go, the operator enters set values and picks other supplies. It must keep its promises
// throughout and end cleanly when asked to. PZ4_SOAK_SECONDS sets the length (8 s by default);
// run the long form with: PZ4_SOAK_SECONDS=60 ctest -R WorkerSoak
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Longest pass: an idle pause, a silent status query and six silent exchanges, about 4 s.
constexpr auto kStopBound = 10s;
const std::array<std::string, 3> kSerials = {"42", "7", "1234"};

std::chrono::seconds soakLength() {
    const char* text = std::getenv("PZ4_SOAK_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 8);
}

TEST(WorkerSoakTest, KeepsItsPromisesThroughFaultsAndStopsCleanly) {
    fillChannelTables(NO_VALUE);
    StopRequested = false;
    WorkerRunning = true;

    platform::Clock& clock = platform::systemClock();
    sim::SimDriver driver(clock);
    driver.wireLogLimit = 1000;
    for (const auto& serial : kSerials) {
        sim::SimSupply& s = driver.addSupply(serial);
        s.rampVoltsPerSecond = 2000;
        s.noise = 1;
        s.setChannel(0, '1', 'U');
        s.setChannel(1, '1', 'I');
        s.setSetVoltage(1, 200, 0);
    }

    // Garbage in place of a status reply would read as firmware that cannot answer and stop
    // the worker for good; that case has its own test, so garbage spares the status here.
    std::atomic<bool> garbage{false};
    std::mutex sentMutex;
    std::vector<std::pair<int, std::int64_t>> sent;
    driver.setCommandObserver([&](std::uint64_t, std::string_view serial, std::string_view cmd) {
        const bool status = cmd.ends_with("GSS");
        driver.withFaults(serial,
                          [&](sim::SimFaults& f) { f.garbageReplies = garbage && !status; });
        const auto s = cmd.find("S ");
        if (!status && s != std::string_view::npos && cmd.size() > s + 4) {
            std::lock_guard lock(sentMutex);
            sent.emplace_back(cmd[s + 2] - '0', std::atoll(std::string(cmd.substr(s + 4)).c_str()));
        }
    });

    auto session =
        createActiveSession(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    session->deviceCount = session->link->listDevices();
    session->serial.store("42");
    test::RecordingView view;
    view.setRecording(false);
    std::thread worker([&] { PollThread(view, clock); });

    // The operator and the world: one random event every few hundred ms, from a fixed seed.
    std::mt19937 random(20240611);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::array<bool, 3> attached = {true, true, true};
    std::array<std::set<std::int64_t>, 3> entered;
    int nextValue = 1;
    const auto end = Clock::now() + soakLength();
    for (int event = 0; Clock::now() < end; ++event) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + pick(200)));
        const auto index = static_cast<std::size_t>(pick(3));
        const std::string& serial = kSerials[index];
        if (event % 6 == 5) {  // a quiet spell, and the operator picks a supply again
            garbage = false;
            for (std::size_t i = 0; i < 3; ++i) {
                driver.setFaults(kSerials[i], {});
                driver.replug(kSerials[i]);
                attached[i] = true;
            }
            if (session->serial.load().empty()) {
                session->serial.store(serial);
            }
            continue;
        }
        switch (pick(10)) {
            case 0:
                if (attached[index]) {
                    driver.unplug(serial);
                } else {
                    driver.replug(serial);
                }
                attached[index] = !attached[index];
                break;
            case 1:
                driver.withFaults(serial, [](sim::SimFaults& f) { f.silent = !f.silent; });
                break;
            case 2:
                driver.withFaults(serial, [](sim::SimFaults& f) { f.errReplies = !f.errReplies; });
                break;
            case 3:
                garbage = !garbage;
                break;
            case 4:
                driver.withFaults(serial,
                                  [](sim::SimFaults& f) { f.pieces = f.pieces == 1 ? 4 : 1; });
                break;
            case 5:
            case 6: {
                const std::size_t ch = static_cast<std::size_t>(pick(3));
                // Now and then a value too large to send; those must never reach the wire.
                const std::int64_t value = pick(5) == 0 ? 11000 + nextValue : nextValue;
                ++nextValue;
                entered[ch].insert(value);
                SetRequest[ch] = value;
                break;
            }
            case 7: {
                static const char* const choices[] = {"42", "7", "1234", "99", ""};
                session->serial.store(choices[pick(5)]);
                break;
            }
            default:
                driver.withSupply(serial, [&](sim::SimSupply& s) {
                    s.setChannel(pick(3), "0121"[pick(4)], "UI"[pick(2)]);
                });
                break;
        }
    }

    const auto stopAt = Clock::now();
    StopRequested = true;
    while (WorkerRunning && Clock::now() - stopAt < kStopBound) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_FALSE(WorkerRunning) << "the worker did not stop in time";
    worker.join();

    EXPECT_FALSE(StopRequested) << "the worker clears it as it ends";
    EXPECT_EQ(view.closeRequests(), 1);
    EXPECT_TRUE(session->link->closing);
    EXPECT_EQ(driver.openHandleCount(), 0);
    EXPECT_EQ(session->busy, 0);
    EXPECT_EQ(view.errors(), std::vector<std::string>{});
    EXPECT_GT(driver.commandCount(), 10u);

    // Every set command carried a value entered on its channel, small enough, and only once.
    std::set<std::pair<int, std::int64_t>> once;
    for (const auto& [ch, value] : sent) {
        ASSERT_TRUE(ch >= 0 && ch < 3);
        EXPECT_TRUE(entered[static_cast<std::size_t>(ch)].contains(value)) << ch << "," << value;
        EXPECT_LT(value, 11000);
        EXPECT_TRUE(once.insert({ch, value}).second) << "sent twice: " << ch << "," << value;
    }
    // Each readout shows what the worker recorded as shown.
    for (int ch = 0; ch < 3; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        if (VoltageShown[i] != FORCE_REFRESH) {
            EXPECT_EQ(view.readout(voltageReadout(ch)),
                      VoltageShown[i] == NO_VALUE ? "" : std::to_string(VoltageShown[i]));
        }
        EXPECT_EQ(view.readout(currentReadout(ch)),
                  CurrentShown[i] == NO_VALUE ? "" : std::to_string(CurrentShown[i]));
    }
    destroyActiveSession(session);
}

}  // namespace
}  // namespace pz4
