// The worker's passes: what it lists, queries and shows, when, and which set values it sends;
// and that a stop ends it at the right moment.
#include "tests/core/poll_worker_fixture.h"

namespace pz4 {
namespace {

using namespace testing_support;

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

// A reading that did not come is marked stale at once, and stays marked (however often its
// query fails) until a fresh one replaces it, unchanged or not.
TEST_F(PollWorkerTest, ShowsOnlyTheChannelsAReplyCarriedAndMarksTheRestStale) {
    startWorker("42");
    pass();
    supply("42").setSetVoltage(0, 600, clock.tickMs());
    supply("42").setSetVoltage(2, 400, clock.tickMs());
    driver.queueReply("42", "42,600\r\n");
    EXPECT_EQ(pass(),
              (Lines{"> PZ442GU", "MarkStale 1001", "MarkStale 1002", "ShowReading 1000 600",
                     "> PZ442GI", "ShowReading 1003 61", "ShowReading 1005 43"}));
    EXPECT_EQ(view.readout(Readout::Voltage3), "300");
    EXPECT_TRUE(view.stale(Readout::Voltage3));
    EXPECT_EQ(shown(VoltageShown), (std::array<std::int64_t, 3>{600, 0, 300}));

    // The serial alone answers nothing: the pass fails and what is shown stays, stale.
    driver.queueReply("42", "42\r\n");
    driver.queueReply("42", "42\r\n");
    EXPECT_EQ(pass(), concat({"> PZ442GU", "MarkStale 1000", "> PZ442GI"}, kStaleCurrents));
    EXPECT_EQ(worker->failedPolls(), 1);
    EXPECT_EQ(view.readout(Readout::Current1), "61");

    EXPECT_EQ(pass(), (Lines{"> PZ442GU", "ShowReading 1000 600", "ShowReading 1001 0",
                             "ShowReading 1002 400", "> PZ442GI", "ShowReading 1003 61",
                             "ShowReading 1004 2", "ShowReading 1005 43"}));
    for (int field = 1000; field <= 1005; ++field) {
        EXPECT_FALSE(view.stale(static_cast<Readout>(field))) << field;
    }
}

// The longest serial an FTDI bridge holds fits every command, with any value the worker sends.
TEST_F(PollWorkerTest, ASupplyWithTheLongestSerialIsPolledAndSet) {
    const std::string serial = "123456789012345";
    addSupply(serial).setChannel(0, '1', 'U');
    startWorker(serial);
    pass();
    SetRequest[0] = -10999;
    EXPECT_EQ(commandsOf(pass()), (Lines{"> PZ4" + serial + "GU", "> PZ4" + serial + "GI",
                                         "> PZ4" + serial + "S 0,-10999"}));
    EXPECT_EQ(worker->failedPolls(), 0);
}

TEST_F(PollWorkerTest, SendsSetValuesBelow11000OnceAndNeverLargerOnes) {
    supply("42").setChannel(1, '1', 'U');
    supply("42").setChannel(2, '1', 'U');
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

TEST_F(PollWorkerTest, StopEndsThePauseAndThePassAtOnce) {
    startWorker("42");
    pass();

    // Raised during the pass: nothing more goes out, and the cut query marks nothing.
    driver.setCommandObserver([this](std::uint64_t, std::string_view, std::string_view cmd) {
        view.note("> " + std::string(cmd));
        if (cmd.ends_with("GU")) {
            StopRequested = true;
        }
    });
    SetRequest[0] = 100;
    const Pass stoppedInPass = runPass();
    EXPECT_FALSE(stoppedInPass.goOn);
    EXPECT_EQ(stoppedInPass.lines, Lines{"> PZ442GU"});

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

}  // namespace
}  // namespace pz4
