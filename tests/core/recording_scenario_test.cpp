// The record of a run in virtual time with faults on the line and a switch to another supply:
// every row says what the supply it names answered, for the channel it names, stamped while
// the exchange was under way, in order; and every set command that reached a wire is in the
// record once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "history/csv_recorder.h"
#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"
#include "tests/core/recording_view.h"
#include "tests/support/os.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

// Steady readings no one of which is another's, by supply and channel.
const std::map<std::string, std::array<int, 3>> kVolts = {{"42", {500, 700, 0}},
                                                          {"77", {111, 222, 0}}};
const std::map<std::string, std::array<int, 3>> kMicroamps = {{"42", {51, 37, 3}},
                                                              {"77", {12, 13, 3}}};

// Records to the file and keeps the events with the time each was handed over.
class Recording final : public WorkerEventSink {
  public:
    explicit Recording(CsvRecorder& file) : file_(file) {}
    void record(const WorkerEvent& event) noexcept override {
        events.push_back(event);
        file_.write(event);
    }
    std::vector<WorkerEvent> events;

  private:
    CsvRecorder& file_;
};

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) {
        out.push_back(f);
    }
    if (!line.empty() && line.back() == ',') {
        out.emplace_back();
    }
    return out;
}

TEST(RecordingScenarioTest, RowsAreWhatTheNamedSupplyAnsweredAndEverySetIsInThem) {
    fillChannelTables(NO_VALUE);
    StopRequested = false;
    WorkerRunning = true;
    sim::VirtualClock clock;
    sim::SimDriver driver(clock);
    driver.seedPhases(11);
    for (const auto& [serial, volts] : kVolts) {
        sim::SimSupply& s = driver.addSupply(serial);
        s.rampVoltsPerSecond = 0;
        s.setChannel(0, '1', 'U');
        s.setChannel(1, '1', 'I');
        for (int ch = 0; ch < 2; ++ch) {
            s.setSetVoltage(ch, volts[static_cast<std::size_t>(ch)], 0);
        }
        s.setLoad(0, volts[0] / (kMicroamps.at(serial)[0] - 1.0));
        s.setLoad(1, volts[1] / (kMicroamps.at(serial)[1] - 2.0));
    }
    const auto path = std::filesystem::temp_directory_path() /
                      ("pz4-record-" + std::to_string(testing_support::processId()) + ".csv");
    std::filesystem::remove(path);
    std::string reason;
    auto file = CsvRecorder::open(path, CsvRecorder::Mode::Replace, reason);
    ASSERT_NE(file, nullptr) << reason;
    Recording recording(*file);

    auto session =
        DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    session->deviceCount = session->link->listDevices();
    session->serial.store("42");
    test::RecordingView view;
    view.setRecording(false);
    PollWorker worker(*session, view, clock);
    worker.setEventSink(&recording);
    worker.start();

    std::mt19937 rng(5);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::string serial = "42";
    for (int pass = 0; pass < 600; ++pass) {
        for (const auto& [s, v] : kVolts) {
            driver.setFaults(s, {});
        }
        if (pass > 3 && pick(4) == 0) {
            driver.withFaults(serial, [&](sim::SimFaults& f) {
                switch (pick(6)) {
                    case 0:
                        f.silent = true;
                        break;
                    case 1:
                        f.errReplies = true;
                        break;
                    case 2:
                        f.garbageReplies = true;
                        break;
                    case 3:
                        f.replyDelayMs = 700;
                        break;
                    case 4:
                        f.strayBytes = "x\r\n";
                        break;
                    default:
                        f.refuseSets = true;
                        break;
                }
            });
        }
        if (pass == 300) {
            serial = "77";
            session->serial.store(serial);
            session->supplyChoice.fetch_add(1);
        }
        // The operator confirms the voltage the channel has, now and then.
        if (pass % 5 == 0) {
            SetRequest[0].store(kVolts.at(serial)[0]);
        }
        ASSERT_TRUE(worker.runPass());
    }
    worker.exit();
    ASSERT_TRUE(file->close());

    // The events: readings of the supply they name, stamped within their exchange.
    std::map<std::string, std::uint64_t> lastQuery;  // "<serial> GU" -> when it was written
    std::size_t wire = 0;
    const auto log = driver.wireLog();
    int readings = 0;
    std::uint64_t last = 0;
    for (const WorkerEvent& e : recording.events) {
        EXPECT_GE(e.tickMs, last) << "out of order";
        last = e.tickMs;
        EXPECT_EQ(e.wallMs, sim::VirtualClock::kWallAtStartMs +
                                static_cast<std::int64_t>(e.tickMs - 1'000'000));
        for (; wire < log.size() && log[wire].tickMs <= e.tickMs; ++wire) {
            if (log[wire].kind == sim::WireKind::Write) {
                lastQuery[log[wire].serial + ' ' + log[wire].bytes] = log[wire].tickMs;
            }
        }
        if (e.kind != WorkerEventKind::Voltage && e.kind != WorkerEventKind::Current) {
            continue;
        }
        const std::string s(e.serial.view());
        const bool volts = e.kind == WorkerEventKind::Voltage;
        const auto asked = lastQuery.find(s + " PZ4" + s + (volts ? "GU" : "GI") + '\0');
        ASSERT_NE(asked, lastQuery.end()) << "a reading of " << s << " no query asked for";
        EXPECT_LE(e.tickMs - asked->second, 1000u) << "stamped long after its exchange";
        for (std::size_t ch = 0; ch < e.count; ++ch) {
            EXPECT_EQ(e.values[ch], (volts ? kVolts : kMicroamps).at(s)[ch]) << s << " ch " << ch;
        }
        ++readings;
    }
    EXPECT_GT(readings, 600);

    // The file: the same, row by row; every set command on a wire is one set or set-failed row
    // of its supply, channel and value, in the order they went out.
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "time,serial,channel,kind,value,unit,state");
    std::vector<std::string> setRows;
    std::vector<std::string> ackedRows;
    std::string previousTime;
    bool switched = false;
    while (std::getline(in, line)) {
        const auto f = fields(line);
        ASSERT_EQ(f.size(), 7u) << line;
        EXPECT_GE(f[0], previousTime) << line;
        previousTime = f[0];
        switched = switched || (f[3] == "chosen" && f[1] == "77");
        EXPECT_EQ(f[1], switched ? "77" : "42") << line;
        if (f[3] == "voltage" || f[3] == "current") {
            const auto& expected = (f[3] == "voltage" ? kVolts : kMicroamps).at(f[1]);
            EXPECT_EQ(f[4], std::to_string(expected[std::stoul(f[2]) - 1])) << line;
        }
        if (f[3] == "set" || f[3] == "set-failed") {
            setRows.push_back(f[1] + " PZ4" + f[1] + "S " + std::to_string(std::stoi(f[2]) - 1) +
                              ',' + f[4]);
            if (f[3] == "set") {
                ackedRows.push_back(setRows.back());
            }
        }
    }
    EXPECT_TRUE(switched);
    in.close();
    std::vector<std::string> sent;
    for (const auto& w : log) {
        if (w.kind == sim::WireKind::Write && w.bytes.find("S ") != std::string::npos) {
            sent.push_back(w.serial + ' ' + w.bytes.substr(0, w.bytes.size() - 1));
        }
    }
    // In order: each command sent is the next row of its kind, skipping values never sent.
    std::size_t row = 0;
    for (const std::string& command : sent) {
        while (row < setRows.size() && setRows[row] != command) {
            ++row;
        }
        ASSERT_LT(row, setRows.size()) << command << " is not in the record";
        ++row;
    }
    EXPECT_GE(sent.size(), ackedRows.size());
    EXPECT_GT(ackedRows.size(), 50u);
    EXPECT_EQ(driver.misaddressedCount(), 0u);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace pz4
