// The record: the rows the worker's events make, the time column, and the file as an operator
// relies on it after a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "history/csv_recorder.h"
#include "history/csv_rows.h"
#include "history/iso_time.h"
#include "tests/support/os.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <csignal>
#endif

namespace pz4 {
namespace {

constexpr std::int64_t kWall = 1'767'600'000'000;  // 2026-01-05 08:00:00 UTC

WorkerEvent event(WorkerEventKind kind, int channel = -1, const char* serial = "42") {
    WorkerEvent e{.kind = kind, .wallMs = kWall, .serial = SerialText::from(serial)};
    e.channel = static_cast<std::int8_t>(channel);
    return e;
}
WorkerEvent status(int channel, char state, char mode) {
    WorkerEvent e = event(WorkerEventKind::Status, channel);
    e.state = state;
    e.mode = mode;
    return e;
}
WorkerEvent reading(WorkerEventKind kind, std::uint8_t count, std::array<std::int32_t, 3> v) {
    WorkerEvent e = event(kind);
    e.count = count;
    e.values = v;
    return e;
}
WorkerEvent set(WorkerEventKind kind, int channel, std::int32_t value) {
    WorkerEvent e = event(kind, channel);
    e.values[0] = value;
    return e;
}

// Each event with the rows it makes, the time column left out.
struct Step {
    WorkerEvent event;
    std::vector<std::string> rows;
};

TEST(RecordTest, RowsOfTheWorkersEvents) {
    const Step steps[] = {
        {status(0, '1', 'U'), {"42,1,status,,,on U"}},
        {status(1, '2', 'I'), {"42,2,status,,,error I"}},
        {reading(WorkerEventKind::Voltage, 3, {800, 0, -300}),
         {"42,1,voltage,800,V,on U", "42,2,voltage,0,V,error I", "42,3,voltage,-300,V,"}},
        {reading(WorkerEventKind::Current, 2, {51, 2, 99}),
         {"42,1,current,51,uA,on U", "42,2,current,2,uA,error I"}},
        {set(WorkerEventKind::Set, 0, 900), {"42,1,set,900,V,on U"}},
        {set(WorkerEventKind::SetFailed, 2, 10999), {"42,3,set-failed,10999,V,"}},
        {status(2, 'X', '\x01'), {"42,3,status,,,X"}},
        {status(2, '\x7f', 'U'), {"42,3,status,,,"}},
        // A turn of the connection: what the supply said of its state no longer holds.
        {event(WorkerEventKind::GivenUp), {"42,,given-up,,,"}},
        {reading(WorkerEventKind::Voltage, 1, {5, 0, 0}), {"42,1,voltage,5,V,"}},
        {event(WorkerEventKind::Opened), {"42,,opened,,,"}},
        {event(WorkerEventKind::Unplugged), {"42,,unplugged,,,"}},
        {event(WorkerEventKind::Chosen, -1, "7,\"x"), {"\"7,\"\"x\",,chosen,,,"}},
        {event(WorkerEventKind::Chosen, -1, "1\xB5"), {"1\xC2\xB5,,chosen,,,"}},
    };
    CsvRowMaker maker;
    for (const Step& step : steps) {
        std::vector<CsvRow> rows;
        maker.rowsOf(step.event, rows);
        std::vector<std::string> texts;
        for (const CsvRow& row : rows) {
            const std::string line = formatCsvRow(row);
            ASSERT_EQ(line.back(), '\n');
            const std::size_t comma = line.find(',');
            EXPECT_EQ(line.substr(0, comma), localIsoTime(kWall));
            texts.push_back(line.substr(comma + 1, line.size() - comma - 2));
        }
        EXPECT_EQ(texts, step.rows) << step.rows.front();
    }
}

TEST(RecordTest, IsoTimesNameOneInstant) {
    struct Row {
        std::int64_t ms;
        int offset;
        const char* text;
    };
    const Row rows[] = {
        {kWall, 0, "2026-01-05T08:00:00.000+00:00"},
        {kWall + 123, 3600, "2026-01-05T09:00:00.123+01:00"},
        {kWall + 59'999, -(5 * 3600 + 30 * 60), "2026-01-05T02:30:59.999-05:30"},
        {-1, 0, "1969-12-31T23:59:59.999+00:00"},
        {1'709'251'199'999, 0, "2024-02-29T23:59:59.999+00:00"},
        {1'709'251'199'999, 14 * 3600, "2024-03-01T13:59:59.999+14:00"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(isoTime(r.ms, r.offset), r.text);
    }
    // Local time, winter and summer: the text less its offset is the instant itself.
    for (const std::int64_t ms : {kWall, kWall + std::int64_t{180} * 86'400'000 + 7}) {
        const int offset = localUtcOffsetSeconds(ms);
        EXPECT_EQ(offset % 60, 0);
        EXPECT_EQ(localIsoTime(ms), isoTime(ms, offset));
        EXPECT_EQ(localFileStamp(ms),
                  isoTime(ms, offset).substr(0, 10) + "-" + isoTime(ms, offset).substr(11, 2) +
                      isoTime(ms, offset).substr(14, 2) + isoTime(ms, offset).substr(17, 2));
    }
}

class RecorderTest : public ::testing::Test {
  protected:
    RecorderTest() {
        dir_ = std::filesystem::temp_directory_path() /
               ("pz4-record-" + std::to_string(testing_support::processId()));
        std::filesystem::create_directories(dir_);
        path_ = dir_ / "run.csv";
    }
    ~RecorderTest() override { std::filesystem::remove_all(dir_); }

    std::string contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::unique_ptr<CsvRecorder> open(CsvRecorder::Mode mode = CsvRecorder::Mode::Append) {
        std::string reason;
        auto recorder = CsvRecorder::open(path_, mode, reason);
        EXPECT_NE(recorder, nullptr) << reason;
        return recorder;
    }
    std::filesystem::path dir_;
    std::filesystem::path path_;
};

TEST_F(RecorderTest, AppendsWithOneHeaderAndClosesACutLine) {
    const WorkerEvent opened = event(WorkerEventKind::Opened);
    open()->write(opened);
    open()->write(opened);
    const std::string two = contents();
    const std::string row = two.substr(kCsvHeader.size(), (two.size() - kCsvHeader.size()) / 2);
    EXPECT_EQ(two, std::string(kCsvHeader) + row + row);
    // A file cut off in the middle of a line: the next rows start on a line of their own.
    std::ofstream(path_, std::ios::app | std::ios::binary) << "2026-01-05T08:00";
    open()->write(opened);
    EXPECT_EQ(contents(), two + "2026-01-05T08:00\n" + row);
    // An export replaces what was there.
    open(CsvRecorder::Mode::Replace)->write(opened);
    EXPECT_EQ(contents(), std::string(kCsvHeader) + row);
}

TEST_F(RecorderTest, AFileThatCannotBeWrittenSaysWhy) {
    std::string reason;
    EXPECT_EQ(CsvRecorder::open(dir_ / "missing" / "run.csv", CsvRecorder::Mode::Append, reason),
              nullptr);
    EXPECT_FALSE(reason.empty());
    reason.clear();
    EXPECT_EQ(CsvRecorder::open(dir_, CsvRecorder::Mode::Append, reason), nullptr);
    EXPECT_FALSE(reason.empty());
#if defined(__linux__)
    reason.clear();
    EXPECT_EQ(CsvRecorder::open("/dev/full", CsvRecorder::Mode::Append, reason), nullptr);
    EXPECT_EQ(reason, "No space left on device");
#endif
}

#if defined(__linux__)
// The disk fills up in the middle of a line: the recording stops, says why, and the file keeps
// every whole line written before.
TEST_F(RecorderTest, AFullDiskStopsTheRecordingAndKeepsWholeLines) {
    auto recorder = open();
    const WorkerEvent voltages = reading(WorkerEventKind::Voltage, 3, {800, 0, 300});
    ASSERT_TRUE(recorder->write(voltages));
    const std::string whole = contents();
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{whole.size() + 20, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = recorder->write(voltages);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_TRUE(recorder->failed());
    EXPECT_EQ(recorder->reason(), "File too large");
    EXPECT_FALSE(recorder->write(voltages));
    EXPECT_EQ(contents(), whole);
}
#endif

}  // namespace
}  // namespace pz4
