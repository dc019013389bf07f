// The worker, pass by pass in virtual time, against simulated supplies: what it shows in the
// window and what it sends on the wire, in order. Commands on the wire appear as "> ..." lines
// among the window operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

using Lines = std::vector<std::string>;
using test::RecordingView;

// Virtual time that can run a hook after every sleep, to raise a flag at a chosen moment.
class HookClock final : public platform::Clock {
  public:
    std::uint64_t tickMs() override { return clock_.tickMs(); }
    void sleepMs(std::uint32_t ms) override {
        clock_.sleepMs(ms);
        if (onSleep) {
            onSleep(clock_.tickMs());
        }
    }
    void advance(std::uint64_t ms) { clock_.advance(ms); }

    std::function<void(std::uint64_t nowMs)> onSleep;

  private:
    sim::VirtualClock clock_;
};

struct Pass {
    Lines lines;
    bool goOn;
    std::uint64_t startMs;
    std::uint64_t endMs;
};

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Lines commandsOf(const Lines& lines) {
    Lines commands;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(commands),
                 [](const std::string& l) { return l.starts_with("> "); });
    return commands;
}

Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Supply "42" as the fixture sets it up: channel 0 on in mode U at 500 V, channel 1 off,
// channel 2 on in mode I at 300 V; 10 Mohm loads and 1, 2 and 3 uA standing, so 51, 2 and 33 uA.
const Lines kFullPresentation = {
    "> PZ442GSS",
    "SetSetFieldText 0 <empty>",
    "SetSetFieldText 1 off",
    "SetSetFieldText 2 on",
    "SetSetFieldReadOnly 0 false",
    "SetSetFieldReadOnly 1 true",
    "SetSetFieldReadOnly 2 true",
    "> PZ442GU",
    "ShowReading 1000 500",
    "SetSetFieldText 0 500",
    "ShowReading 1001 0",
    "ShowReading 1002 300",
    "> PZ442GI",
    "ShowReading 1003 51",
    "ShowReading 1004 2",
    "ShowReading 1005 33",
};
const Lines kQueries = {"> PZ442GU", "> PZ442GI"};
// Giving a connection up: nothing shown, no number in a set field, no field open for a value.
const Lines kGiveUp = {"ClearReadings",
                       "SetSetFieldText 0 <empty>",
                       "SetSetFieldReadOnly 0 true",
                       "SetSetFieldText 1 <empty>",
                       "SetSetFieldReadOnly 1 true",
                       "SetSetFieldText 2 <empty>",
                       "SetSetFieldReadOnly 2 true"};

class PollWorkerTest : public ::testing::Test {
  protected:
    PollWorkerTest() {
        fillChannelTables(NO_VALUE);
        StopRequested = false;
        WorkerRunning = true;
        driver.setCommandObserver([this](std::uint64_t, std::string_view, std::string_view cmd) {
            view.note("> " + std::string(cmd));
        });
        sim::SimSupply& s = addSupply("42");
        s.setChannel(0, '1', 'U');
        s.setSetVoltage(0, 500, 0);
        s.setChannel(2, '1', 'I');
        s.setSetVoltage(2, 300, 0);
    }

    sim::SimSupply& addSupply(const std::string& serial) {
        sim::SimSupply& s = driver.addSupply(serial);
        s.rampVoltsPerSecond = 0;  // readings follow the set voltage at once
        return s;
    }
    sim::SimSupply& supply(std::string_view serial) { return *driver.supply(serial); }

    // What the window does before it starts the worker: list the supplies, fill the list,
    // choose serial.
    void startWorker(std::string_view serial) {
        session =
            DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
        session->deviceCount = session->link->listDevices();
        Lines listed;
        for (int j = 0; j < session->deviceCount; ++j) {
            listed.emplace_back(session->link->serials()[static_cast<std::size_t>(j)].data());
        }
        view.presetSerialList(listed, serial);
        session->serial.store(serial);
        worker = std::make_unique<PollWorker>(*session, view, clock);
        worker->start();
    }

    Pass runPass() {
        view.takeLines();
        const std::uint64_t start = clock.tickMs();
        const bool goOn = worker->runPass();
        return {view.takeLines(), goOn, start, clock.tickMs()};
    }
    Lines pass() { return runPass().lines; }
    // Moves time on so that the next pass makes its timing checks exactly at atMs.
    void nextChecksAt(std::uint64_t atMs) {
        ASSERT_GE(atMs, clock.tickMs() + 200);
        clock.advance(atMs - clock.tickMs() - 200);
    }
    std::string serial() const { return std::string(session->serial.load().view()); }
    // What the window does when the operator picks another supply from the list.
    void choose(std::string_view serial) {
        session->serial.store(serial);
        session->supplyChoice.fetch_add(1);
    }
    std::array<std::int64_t, 3> shown(const ChannelSlots& slots) const {
        return {slots[0].load(), slots[1].load(), slots[2].load()};
    }

    HookClock clock;
    sim::SimDriver driver{clock};
    RecordingView view;
    std::unique_ptr<DeviceSession> session;
    std::unique_ptr<PollWorker> worker;
};

TEST_F(PollWorkerTest, FirstPassClearsOpensAndPresentsEverythingAtOnce) {
    startWorker("42");
    const Pass first = runPass();
    EXPECT_EQ(first.lines, concat({"ClearReadings"}, kFullPresentation));
    EXPECT_TRUE(first.goOn);
    EXPECT_LT(first.endMs - first.startMs, 200u + 500u) << "no idle pause after a good open";
    EXPECT_TRUE(session->link->isOpen());
    EXPECT_EQ(view.setField(0).text, "500");
    EXPECT_FALSE(view.setField(0).readOnly);
    EXPECT_EQ(view.readout(Readout::Current3), "33");
    EXPECT_EQ(shown(VoltageShown), (std::array<std::int64_t, 3>{500, 0, 300}));
}

TEST_F(PollWorkerTest, FirstPassRebuildsTheListWhenTheWindowSawAnotherCount) {
    startWorker("42");
    addSupply("7");  // attached after the window listed
    const Lines lines = pass();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4),
              (Lines{"ResetSerialList", "AddSerial 42", "AddSerial 7", "SelectSerial 0"}));
    EXPECT_EQ(view.selectedSerial(), "42");
    EXPECT_EQ(session->deviceCount, 2);
}

TEST_F(PollWorkerTest, ListsEverySecondWhileIdleAndEveryThreeWhileConnected) {
    startWorker("");
    const Pass first = runPass();
    EXPECT_EQ(first.lines, Lines{"ClearReadings"});
    const std::uint64_t listedAt = first.startMs + 200;

    // Idle passes pause 500 ms more and clear nothing. A listing shows as a rebuild here
    // because the count it finds differs from the one recorded.
    session->deviceCount = -1;
    nextChecksAt(listedAt + 1000);
    const Pass atLimit = runPass();
    EXPECT_EQ(atLimit.lines, Lines{});
    EXPECT_EQ(atLimit.endMs - atLimit.startMs, 700u);
    const Pass later = runPass();
    EXPECT_TRUE(contains(later.lines, "ResetSerialList"));

    const std::uint64_t relistedAt = later.startMs + 200 + 1001;
    session->deviceCount = -1;
    nextChecksAt(relistedAt);
    EXPECT_TRUE(contains(pass(), "ResetSerialList"));

    // Connected: listing after more than 3000 ms, status after more than 3100 ms. The pass
    // that opens lists first, then pauses idle 500 ms, then queries the status.
    session->serial.store("42");
    session->deviceCount = -1;
    const std::uint64_t openListedAt = relistedAt + 1001;
    nextChecksAt(openListedAt);
    const Lines opened = pass();
    EXPECT_TRUE(contains(opened, "ResetSerialList"));
    EXPECT_TRUE(contains(opened, "> PZ442GSS"));
    const std::uint64_t statusAt = openListedAt + 500;

    session->deviceCount = -1;
    nextChecksAt(openListedAt + 3000);
    EXPECT_EQ(pass(), kQueries);
    const Lines listedNotStatus = pass();
    EXPECT_TRUE(contains(listedNotStatus, "ResetSerialList"));
    EXPECT_FALSE(contains(listedNotStatus, "> PZ442GSS"));
    nextChecksAt(statusAt + 3100);
    EXPECT_EQ(pass(), kQueries);
    EXPECT_TRUE(contains(pass(), "> PZ442GSS"));
}

TEST_F(PollWorkerTest, ShowsOnlyChangedReadingsAndPrefillsOnlyEmptyFields) {
    startWorker("42");
    pass();
    EXPECT_EQ(pass(), kQueries);

    // The operator has emptied field 0: an unchanged reading does not fill it.
    view.typeIntoSetField(0, "");
    EXPECT_EQ(pass(), kQueries);

    supply("42").setSetVoltage(0, 600, clock.tickMs());
    supply("42").setSetVoltage(2, 350, clock.tickMs());
    EXPECT_EQ(pass(), (Lines{"> PZ442GU", "ShowReading 1000 600", "SetSetFieldText 0 600",
                             "ShowReading 1002 350", "> PZ442GI", "ShowReading 1003 61",
                             "ShowReading 1005 38"}));

    // A field holding text keeps it.
    view.typeIntoSetField(0, "7");
    supply("42").setSetVoltage(0, 700, clock.tickMs());
    EXPECT_EQ(pass(),
              (Lines{"> PZ442GU", "ShowReading 1000 700", "> PZ442GI", "ShowReading 1003 71"}));
    EXPECT_EQ(view.setField(0).text, "7");
}

TEST_F(PollWorkerTest, ShowsOnlyTheChannelsAReplyCarried) {
    startWorker("42");
    pass();
    supply("42").setSetVoltage(0, 600, clock.tickMs());
    supply("42").setSetVoltage(2, 400, clock.tickMs());
    driver.queueReply("42", "42,600\r\n");
    EXPECT_EQ(pass(), (Lines{"> PZ442GU", "ShowReading 1000 600", "> PZ442GI",
                             "ShowReading 1003 61", "ShowReading 1005 43"}));
    EXPECT_EQ(view.readout(Readout::Voltage3), "300");
    EXPECT_EQ(shown(VoltageShown), (std::array<std::int64_t, 3>{600, 0, 300}));

    // The serial alone answers nothing: the pass fails and what is shown stays.
    driver.queueReply("42", "42\r\n");
    driver.queueReply("42", "42\r\n");
    EXPECT_EQ(pass(), kQueries);
    EXPECT_EQ(worker->failedPolls(), 1);
}

TEST_F(PollWorkerTest, ThreeFailedPassesClearCloseRelistAtOnceAndReopen) {
    startWorker("42");
    pass();
    driver.faults("42").errReplies = true;
    clock.advance(3000);  // this pass lists, so only the give-up can make the fifth list
    EXPECT_EQ(pass(), concat({"> PZ442GSS"}, kQueries));
    EXPECT_EQ(pass(), kQueries);
    EXPECT_EQ(worker->failedPolls(), 2);
    EXPECT_EQ(view.readout(Readout::Voltage1), "500") << "a failed pass by itself clears nothing";

    // The pending set value goes nowhere, and no field takes another until the supply has
    // answered a status query again.
    SetRequest[1] = 800;
    EXPECT_EQ(pass(), concat(kQueries, kGiveUp));
    EXPECT_EQ(SetRequest[1], NO_VALUE);
    EXPECT_FALSE(session->status.channelTakesSetValues(0));
    EXPECT_FALSE(session->link->isOpen());
    EXPECT_EQ(worker->failedPolls(), 0);
    EXPECT_EQ(shown(VoltageShown), (std::array<std::int64_t, 3>{NO_VALUE, NO_VALUE, NO_VALUE}));
    EXPECT_EQ(shown(CurrentShown), (std::array<std::int64_t, 3>{NO_VALUE, NO_VALUE, NO_VALUE}));
    EXPECT_EQ(view.readout(Readout::Voltage1), "");

    // Relisted at once, reopened, and everything presented anew: the same status as before.
    driver.faults("42").errReplies = false;
    session->deviceCount = -1;
    EXPECT_EQ(pass(),
              concat({"ResetSerialList", "AddSerial 42", "SelectSerial 0"}, kFullPresentation));
    EXPECT_EQ(serial(), "42");
}

TEST_F(PollWorkerTest, AGoodPassResetsTheFailureCount) {
    startWorker("42");
    pass();
    driver.faults("42").errReplies = true;
    pass();
    pass();
    driver.faults("42").errReplies = false;
    EXPECT_EQ(pass(), kQueries);
    EXPECT_EQ(worker->failedPolls(), 0);

    // A failed voltage query still lets the currents through, and still fails the pass.
    supply("42").setLoad(0, 5.0);
    driver.queueReply("42", "ERR\r\n");
    EXPECT_EQ(pass(), (Lines{"> PZ442GU", "> PZ442GI", "ShowReading 1003 101"}));
    driver.queueReply("42", "ERR\r\n");
    EXPECT_EQ(pass(), kQueries);
    EXPECT_EQ(worker->failedPolls(), 2);
    EXPECT_TRUE(session->link->isOpen());
}

TEST_F(PollWorkerTest, AFailedOpenEmptiesTheSerialAndWaitsForTheOperator) {
    startWorker("77");
    EXPECT_EQ(pass(), Lines{"ClearReadings"});
    EXPECT_EQ(serial(), "");
    const Pass idle = runPass();
    EXPECT_EQ(idle.lines, Lines{});
    EXPECT_EQ(idle.endMs - idle.startMs, 700u);

    session->serial.store("42");
    EXPECT_EQ(pass(), kFullPresentation);
}

TEST_F(PollWorkerTest, CommandsTooLongForTheirBufferAreNeverSent) {
    // 15 characters: the status query fits, the queries and set commands do not.
    const std::string serial = "123456789012345";
    addSupply(serial).setChannel(0, '1', 'U');
    startWorker(serial);
    SetRequest[0] = 5;
    EXPECT_EQ(commandsOf(pass()), Lines{"> PZ4" + serial + "GSS"});
    EXPECT_EQ(worker->failedPolls(), 1);
}

TEST_F(PollWorkerTest, SendsSetValuesBelow11000OnceAndNeverLargerOnes) {
    startWorker("42");
    pass();
    SetRequest[0] = 10999;
    SetRequest[1] = -10999;
    SetRequest[2] = 11000;
    EXPECT_EQ(commandsOf(pass()), concat(kQueries, {"> PZ442S 0,10999", "> PZ442S 1,-10999"}));
    EXPECT_EQ(shown(SetRequest), (std::array<std::int64_t, 3>{NO_VALUE, NO_VALUE, 11000}));

    SetRequest[0] = -11000;
    SetRequest[1] = 0;
    EXPECT_EQ(commandsOf(pass()), concat(kQueries, {"> PZ442S 1,0"}));
    SetRequest[2] = 5;
    EXPECT_EQ(commandsOf(pass()), concat(kQueries, {"> PZ442S 2,5"}));
    EXPECT_EQ(commandsOf(pass()), kQueries);
    EXPECT_EQ(shown(SetRequest), (std::array<std::int64_t, 3>{-11000, NO_VALUE, NO_VALUE}));
    EXPECT_EQ(supply("42").channel(0, clock.tickMs()).setVoltage, 10999);
}

TEST_F(PollWorkerTest, StopEndsThePauseAtOnceButLetsAPassFinish) {
    startWorker("42");
    pass();

    // Raised during the pass: the rest of it, set values included, still goes out.
    driver.setCommandObserver([this](std::uint64_t, std::string_view, std::string_view cmd) {
        view.note("> " + std::string(cmd));
        if (cmd.ends_with("GU")) {
            StopRequested = true;
        }
    });
    SetRequest[0] = 100;
    const Pass stoppedInPass = runPass();
    EXPECT_FALSE(stoppedInPass.goOn);
    EXPECT_EQ(commandsOf(stoppedInPass.lines), concat(kQueries, {"> PZ442S 0,100"}));

    // Raised 50 ms into the pause: the pass ends at once, having sent nothing.
    StopRequested = false;
    const std::uint64_t raiseAt = clock.tickMs() + 50;
    clock.onSleep = [raiseAt](std::uint64_t now) {
        if (now >= raiseAt) {
            StopRequested = true;
        }
    };
    const Pass stoppedInPause = runPass();
    EXPECT_FALSE(stoppedInPause.goOn);
    EXPECT_EQ(stoppedInPause.lines, Lines{});
    EXPECT_LE(stoppedInPause.endMs, raiseAt + 2);

    // The same in the longer pause of a pass with nothing open: 300 ms into it, and the pass
    // ends without an open attempt.
    session->link->closeDevice();
    session->serial.store("42");
    StopRequested = false;
    const std::uint64_t raiseIdleAt = clock.tickMs() + 200 + 300;
    clock.onSleep = [raiseIdleAt](std::uint64_t now) {
        if (now >= raiseIdleAt) {
            StopRequested = true;
        }
    };
    const Pass stoppedIdle = runPass();
    EXPECT_FALSE(stoppedIdle.goOn);
    EXPECT_EQ(commandsOf(stoppedIdle.lines), Lines{});
    EXPECT_FALSE(session->link->isOpen());
    EXPECT_LE(stoppedIdle.endMs, raiseIdleAt + 2);
    clock.onSleep = nullptr;

    worker->exit();
    EXPECT_EQ(view.takeLines(), Lines{"PostCloseRequest"});
    EXPECT_FALSE(StopRequested);
    EXPECT_FALSE(WorkerRunning);
    EXPECT_TRUE(session->link->closing);
    EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST_F(PollWorkerTest, StatusChangesReachTheWindowWithinTheSamePass) {
    startWorker("42");
    pass();
    // Channel 1 turns on in mode U at an unchanged 0 V; channel 2, on, changes to mode U.
    supply("42").setChannel(1, '1', 'U');
    supply("42").setChannel(2, '1', 'U');
    clock.advance(3100);
    EXPECT_EQ(pass(),
              (Lines{"> PZ442GSS", "SetSetFieldText 1 <empty>", "SetSetFieldReadOnly 1 false",
                     "SetSetFieldReadOnly 2 false", "> PZ442GU", "ShowReading 1001 0",
                     "SetSetFieldText 1 0", "ShowReading 1002 300", "> PZ442GI"}));
    EXPECT_EQ(view.setField(1).text, "0");
    EXPECT_FALSE(view.setField(1).readOnly);
    EXPECT_EQ(view.setField(2).text, "on");
    EXPECT_FALSE(view.setField(2).readOnly);
}

// The status query fails the digit test twice in a row, 3.1 s apart: only then the operator is
// told, and the worker stops.
TEST_F(PollWorkerTest, FirmwareThatCannotAnswerTheStatusStopsTheWorker) {
    supply("42").setFirmwareDigit('A');
    startWorker("42");
    worker->run();
    Lines statusAndAfter;
    int queriesBetween = 0;
    for (const std::string& line : view.takeLines()) {
        if (line == "> PZ442GU") {
            ++queriesBetween;
        } else if (line == "> PZ442GSS" || line.starts_with("ShowError") ||
                   line == "PostCloseRequest") {
            statusAndAfter.push_back(line);
        }
    }
    EXPECT_EQ(statusAndAfter, (Lines{"> PZ442GSS", "> PZ442GSS",
                                     "ShowError Communication error with PZ4 42.\nMake sure "
                                     "that firmware\n2.13 or higher is installed.",
                                     "PostCloseRequest"}));
    EXPECT_GT(queriesBetween, 10) << "the readings go on between the two";
    EXPECT_EQ(session->busy, 0);
    EXPECT_FALSE(StopRequested);
    EXPECT_FALSE(WorkerRunning);
    EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST_F(PollWorkerTest, AnUnpluggedSupplyIsDroppedAndComesBackUnselected) {
    addSupply("7");
    startWorker("42");
    pass();
    driver.unplug("42");
    EXPECT_EQ(pass(), Lines{}) << "writes to a dead handle fail before reaching the wire";
    EXPECT_EQ(pass(), Lines{});
    EXPECT_EQ(pass(), kGiveUp);

    EXPECT_EQ(pass(), (Lines{"ResetSerialList", "AddSerial 7", "SelectSerial -1"}));
    EXPECT_EQ(serial(), "") << "the open attempt failed";

    driver.replug("42");
    EXPECT_EQ(pass(), Lines{});
    EXPECT_EQ(pass(), (Lines{"ResetSerialList", "AddSerial 7", "AddSerial 42", "SelectSerial -1"}));
    EXPECT_EQ(view.serialList(), (Lines{"42", "7"}));
    EXPECT_EQ(view.selectedSerial(), "");
    EXPECT_EQ(pass(), Lines{}) << "idle until the operator chooses";

    session->serial.store("42");
    EXPECT_EQ(pass(), kFullPresentation);
}

// The operator chooses another supply: at the start of the next pass, before any exchange, the
// worker gives the open one up and opens the chosen one in the same pass. Nothing that names the
// new supply goes to the old one, and nothing pending goes anywhere.
TEST_F(PollWorkerTest, ChoosingAnotherSupplyMovesTheConnectionBeforeAnyExchange) {
    addSupply("7").setChannel(0, '2', 'U');
    startWorker("42");
    pass();
    SetRequest[0] = 450;  // confirmed for 42, still pending
    choose("7");
    const Pass switched = runPass();
    EXPECT_EQ(Lines(switched.lines.begin(), switched.lines.begin() + 8),
              concat(kGiveUp, {"> PZ47GSS"}));
    EXPECT_TRUE(contains(switched.lines, "SetSetFieldText 0 error"));
    EXPECT_EQ(commandsOf(switched.lines), (Lines{"> PZ47GSS", "> PZ47GU", "> PZ47GI"}));
    EXPECT_LT(switched.endMs - switched.startMs, 500u) << "no idle pause before the open";
    EXPECT_EQ(SetRequest[0], NO_VALUE);

    // Chosen in the middle of a pass: the rest of it stays with 42, sends no value, and the
    // next pass moves.
    choose("42");
    pass();
    driver.setCommandObserver([this](std::uint64_t, std::string_view, std::string_view cmd) {
        view.note("> " + std::string(cmd));
        if (cmd == "PZ442GU") {
            choose("7");
            SetRequest[1] = 900;  // taken by a window that had not yet seen the choice
        }
    });
    EXPECT_EQ(commandsOf(pass()), kQueries);
    EXPECT_EQ(commandsOf(pass()), (Lines{"> PZ47GSS", "> PZ47GU", "> PZ47GI"}));
    EXPECT_EQ(SetRequest[1], NO_VALUE);
    EXPECT_EQ(driver.misaddressedCount(), 0u);
}

// The list is sorted, so the worker must find the chosen supply by its text, whatever order
// the driver reports.
TEST(PollWorkerSelectionTest, SelectsTheEntryWhoseTextIsTheSerial) {
    const std::vector<Lines> orders = {
        {"A1", "b2", "C3", "d4"}, {"d4", "C3", "b2", "A1"}, {"b2", "d4", "A1", "C3"}};
    for (const Lines& order : orders) {
        for (const std::string chosen : {"A1", "b2", "C3", "d4", "a1", "99"}) {
            fillChannelTables(NO_VALUE);
            sim::VirtualClock clock;
            sim::SimDriver driver(clock);
            for (const auto& s : order) {
                driver.addSupply(s);
            }
            auto session =
                DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
            session->serial.store(chosen);
            RecordingView view;
            PollWorker worker(*session, view, clock);
            worker.start();
            worker.runPass();
            const bool present = std::find(order.begin(), order.end(), chosen) != order.end();
            EXPECT_EQ(view.selectedSerial(), present ? chosen : "")
                << "order " << order[0] << order[1] << order[2] << order[3];
            EXPECT_EQ(view.serialList(), (Lines{"A1", "b2", "C3", "d4"}));
        }
    }
}

TEST(PollWorkerSelectionTest, AnEmptyEntryEndsTheList) {
    fillChannelTables(NO_VALUE);
    sim::VirtualClock clock;
    sim::SimDriver driver(clock);
    for (const char* s : {"C3", "", "A1"}) {
        driver.addSupply(s);
    }
    auto session =
        DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    session->serial.store("C3");
    RecordingView view;
    PollWorker worker(*session, view, clock);
    worker.start();
    worker.runPass();
    EXPECT_EQ(view.serialList(), Lines{"C3"});
    EXPECT_EQ(view.selectedSerial(), "C3");
}

}  // namespace
}  // namespace pz4
