// The worker's connection to a supply: giving it up after failed passes or for another choice,
// losing and finding the supply again, firmware that cannot answer, and which list entry names
// the supply.
#include "tests/core/poll_worker_fixture.h"

namespace pz4 {
namespace {

using namespace testing_support;

TEST_F(PollWorkerTest, ThreeFailedPassesClearCloseRelistAtOnceAndReopen) {
    startWorker("42");
    pass();
    driver.faults("42").errReplies = true;
    clock.advance(3000);  // this pass lists, so only the give-up can make the fifth list
    EXPECT_EQ(pass(), concat({"> PZ442GSS"}, kFailedQueries));
    EXPECT_EQ(pass(), kQueries);
    EXPECT_EQ(worker->failedPolls(), 2);
    EXPECT_EQ(view.readout(Readout::Voltage1), "500") << "a failed pass by itself clears nothing";
    EXPECT_TRUE(view.stale(Readout::Voltage1));

    // The pending set value goes nowhere, and no field takes another until the supply has
    // answered a status query again.
    SetRequest[1] = 800;
    const Lines third = pass();
    EXPECT_EQ(commandsOf(third).back(), "> PZ442GI");
    EXPECT_EQ(Lines(third.end() - static_cast<std::ptrdiff_t>(kGiveUp.size()), third.end()),
              kGiveUp);
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
    // (The error replies slowed the passes down, so the status is due again.)
    // Every readout shows its fresh reading again, unchanged ones too: none stays marked.
    EXPECT_EQ(pass(), (Lines{"> PZ442GSS", "> PZ442GU", "ShowReading 1000 500",
                             "ShowReading 1001 0", "ShowReading 1002 300", "> PZ442GI",
                             "ShowReading 1003 51", "ShowReading 1004 2", "ShowReading 1005 33"}));
    EXPECT_EQ(worker->failedPolls(), 0);
    EXPECT_FALSE(view.stale(Readout::Voltage1));

    // A failed voltage query still lets the currents through, and still fails the pass.
    supply("42").setLoad(0, 5.0);
    driver.queueReply("42", "ERR\r\n");
    EXPECT_EQ(pass(),
              concat(concat({"> PZ442GU"}, kStaleVoltages), {"> PZ442GI", "ShowReading 1003 101"}));
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
    EXPECT_GT(queriesBetween, 5) << "the readings go on between the two";
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
    EXPECT_EQ(pass(), concat(kStaleVoltages, kStaleCurrents))
        << "writes to a dead handle fail before reaching the wire";
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
