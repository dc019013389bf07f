// The link and the worker over the kernel's serial ports, in real time, against simulated
// supplies that a thread serves over pseudo-terminals.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/device_session.h"
#include "tests/core/kernel_bench.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

using testing_support::KernelBench;

// Real time, with a hook after every sleep to change the world between two polls.
class HookedClock final : public platform::Clock {
  public:
    std::uint64_t tickMs() override { return platform::systemClock().tickMs(); }
    void sleepMs(std::uint32_t ms) override {
        platform::systemClock().sleepMs(ms);
        if (onSleep) {
            onSleep();
        }
    }
    std::function<void()> onSleep;
};

// Supply "42": channel 0 on in mode U at 500 V, channel 1 off, channel 2 on in mode I at
// 300 V; 10 Mohm loads and 1, 2 and 3 uA standing, so 51, 2 and 33 uA.
sim::PtySupply& plugSupply42(KernelBench& bench) {
    sim::PtySupply& supply = bench.plugSupply("ttyUSB0", "42");
    supply.withSupply([](sim::SimSupply& s) {
        s.rampVoltsPerSecond = 0;  // readings follow the set voltage at once
        s.setChannel(0, '1', 'U');
        s.setSetVoltage(0, 500, 0);
        s.setChannel(2, '1', 'I');
        s.setSetVoltage(2, 300, 0);
    });
    return supply;
}

class KernelWorkerTest : public ::testing::TestWithParam<int> {
  protected:
    KernelWorkerTest() {
        fillChannelTables(NO_VALUE);
        StopRequested = false;
        WorkerRunning = true;
    }

    void startWorker() {
        session = DeviceSession::create(bench.makeLink(), nullptr);
        session->deviceCount = session->link->listDevices();
        view.presetSerialList({"42"}, "42");
        session->serial.store("42");
        worker = std::make_unique<PollWorker>(*session, view, platform::systemClock());
        worker->start();
    }

    // Passes until done() holds, at most limit of them; true when it came to hold.
    bool passUntil(const std::function<bool()>& done, int limit) {
        for (int i = 0; i < limit; ++i) {
            EXPECT_TRUE(worker->runPass());
            if (done()) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> readouts() const {
        std::vector<std::string> shown;
        for (int id = 1000; id <= 1005; ++id) {
            shown.push_back(view.readout(static_cast<Readout>(id)));
        }
        return shown;
    }

    KernelBench bench;
    test::RecordingView view;
    std::unique_ptr<DeviceSession> session;
    std::unique_ptr<PollWorker> worker;
};

const std::vector<std::string> kReadouts = {"500", "0", "300", "51", "2", "33"};

TEST_P(KernelWorkerTest, PollsAndSetsThroughTheKernelPort) {
    sim::PtySupply& supply = plugSupply42(bench);
    supply.setOptions({GetParam(), 3});
    startWorker();

    ASSERT_TRUE(worker->runPass());
    EXPECT_EQ(readouts(), kReadouts);
    EXPECT_EQ(worker->failedPolls(), 0);

    SetRequest[0].store(800);
    ASSERT_TRUE(worker->runPass());
    EXPECT_EQ(SetRequest[0].load(), NO_VALUE);
    const auto commands = supply.commands();
    EXPECT_EQ(commands, (std::vector<std::string>{"PZ442GSS", "PZ442GU", "PZ442GI", "PZ442GU",
                                                  "PZ442GI", "PZ442S 0,800"}));
    double setVoltage = 0;
    supply.withSupply([&](sim::SimSupply& s) { setVoltage = s.channel(0, 0).setVoltage; });
    EXPECT_EQ(setVoltage, 800);
    // The readout follows, whichever way the acknowledgement's CR LF arrived.
    ASSERT_TRUE(worker->runPass());
    EXPECT_EQ(view.readout(Readout::Voltage1), "800");
    EXPECT_EQ(worker->failedPolls(), 0);
}

INSTANTIATE_TEST_SUITE_P(ReplyPieces, KernelWorkerTest, ::testing::Values(1, 5));

TEST_F(KernelWorkerTest, RecoversWhenThePortComesBack) {
    sim::PtySupply& supply = plugSupply42(bench);
    startWorker();
    ASSERT_TRUE(passUntil([&] { return readouts() == kReadouts; }, 3));

    supply.hangUp();
    bench.tree.unplug("ttyUSB0");
    view.takeLines();
    ASSERT_TRUE(passUntil([&] { return !session->link->isOpen(); }, 5));
    const auto lines = view.takeLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ClearReadings"), lines.end());

    ASSERT_TRUE(supply.comeBack());
    bench.tree.plug({"ttyUSB0", "High Voltage PZ4", "42"}, supply.slavePath());
    EXPECT_TRUE(passUntil([&] { return readouts() == kReadouts; }, 15));
    EXPECT_EQ(worker->failedPolls(), 0);
}

// A bridge unplugged while its reply trickles in fails the read instead of handing on half a
// line, and from then on every call on that port fails; the port opens again once it is back.
TEST(KernelLinkTest, HangUpMidLineFailsTheReadAndEveryCallAfter) {
    KernelBench bench;
    sim::PtySupply& supply = bench.plugSupply("ttyUSB0", "42");
    HookedClock clock;
    auto link = bench.makeLink(clock);
    ASSERT_TRUE(link->openBySerial("42"));
    const D2xxEntries& e = link->entries();

    supply.inject("42,1");
    DWORD waiting = 0;
    for (int i = 0; i < 100 && waiting < 4; ++i) {
        platform::systemClock().sleepMs(2);
        ASSERT_EQ(e.FT_GetQueueStatus(link->handle(), &waiting), FT_OK);
    }
    ASSERT_EQ(waiting, 4u);
    clock.onSleep = [&] {
        clock.onSleep = nullptr;
        supply.hangUp();
    };
    char buffer[500];
    EXPECT_EQ(link->readLine(buffer, 499), 0);

    char command[] = "PZ442GU";
    DWORD count = 0;
    EXPECT_NE(e.FT_GetQueueStatus(link->handle(), &count), FT_OK);
    EXPECT_NE(e.FT_Read(link->handle(), buffer, 1, &count), FT_OK);
    EXPECT_NE(e.FT_Write(link->handle(), command, sizeof command, &count), FT_OK);
    EXPECT_NE(e.FT_SetBaudRate(link->handle(), 115200), FT_OK);
    link->closeDevice();

    ASSERT_TRUE(supply.comeBack());
    bench.tree.plug({"ttyUSB0", "High Voltage PZ4", "42"}, supply.slavePath());
    ASSERT_TRUE(link->openBySerial("42"));
    ASSERT_EQ(e.FT_Write(link->handle(), command, sizeof command, &count), FT_OK);
    EXPECT_EQ(count, sizeof command);
    EXPECT_GT(link->readLine(buffer, 499), 0);
    EXPECT_EQ(std::string(buffer).substr(0, 3), "42,");
}

}  // namespace
}  // namespace pz4
