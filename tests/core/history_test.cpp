// The history: where its lines break, how it thins old readings and what it holds at most, in
// one table of runs; and what a plot of it draws.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "history/history.h"
#include "history/plot_frame.h"

namespace pz4 {
namespace {

constexpr std::int64_t kWallStart = 1'767'600'000'000;  // 2026-01-05 08:00:00 UTC
constexpr std::uint64_t kPassMs = 262;

// Feeds a history as the worker would, pass by pass, on a virtual clock.
struct Feeder {
    History history;
    std::uint64_t tick = 1'000'000;
    std::int64_t wallJump = 0;
    std::int32_t value = 500;

    WorkerEvent event(WorkerEventKind kind, const char* serial = "42") const {
        WorkerEvent e{.kind = kind,
                      .wallMs = kWallStart + static_cast<std::int64_t>(tick) + wallJump,
                      .tickMs = tick,
                      .serial = SerialText::from(serial),
                      .count = 3};
        e.values = {value, value + 1, value + 2};
        return e;
    }
    void add(const WorkerEvent& e) {
        history.add(e);
        history.trim();
    }
    // A pass; a reply left out failed, count is how many channels the replies carried.
    void pass(bool voltages = true, bool currents = true, std::uint8_t count = 3) {
        for (const auto& [kind, wanted] : {std::pair{WorkerEventKind::Voltage, voltages},
                                           std::pair{WorkerEventKind::Current, currents}}) {
            if (wanted) {
                WorkerEvent e = event(kind);
                e.count = count;
                add(e);
            }
        }
        tick += kPassMs;
    }
    void passes(std::uint64_t duration, std::uint64_t period = kPassMs) {
        for (const std::uint64_t end = tick + duration; tick < end;) {
            add(event(WorkerEventKind::Voltage));
            add(event(WorkerEventKind::Current));
            value = value == 500 ? 501 : 500;
            tick += period;
        }
    }
    const Series& series(Quantity q, int ch) const {
        return (*history.supply("42"))[static_cast<std::size_t>(ch)].series(q);
    }
};

// 'g' for a sample that starts a gap, '.' for one joined to the one before.
std::string gaps(const Series& s) {
    std::string out;
    for (const Sample& sample : s.samples()) {
        out += sample.gapBefore ? 'g' : '.';
    }
    return out;
}

constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();

struct HistoryRun {
    const char* name;
    std::function<void(Feeder&)> run;
    int channel;  // whose gaps are checked
    std::string voltageGaps;
    std::string currentGaps;
    std::size_t buckets = kAny;  // channel 1's voltage
    std::size_t samples = kAny;
};

const HistoryRun kRuns[] = {
    {"steady passes join",
     [](Feeder& f) {
         for (int i = 0; i < 4; ++i)
             f.pass();
     },
     0, "g...", "g..."},
    {"a failed voltage query opens the voltages only",
     [](Feeder& f) {
         f.pass();
         f.pass(false, true);
         f.pass();
         f.pass();
     },
     0, "gg.", "g..."},
    {"a failed current query opens the currents only",
     [](Feeder& f) {
         f.pass();
         f.pass(true, false);
         f.pass();
     },
     0, "g..", "gg"},
    {"a short reply opens the channels it left out",
     [](Feeder& f) {
         f.pass();
         f.pass(true, true, 2);
         f.pass();
     },
     2, "gg", "gg"},
    {"passes that failed altogether leave a second without readings",
     [](Feeder& f) {
         f.pass();
         f.tick += 1200;
         f.pass();
         f.pass();
     },
     0, "gg.", "gg."},
    {"the connection turned",
     [](Feeder& f) {
         f.pass();
         f.add(f.event(WorkerEventKind::GivenUp));
         f.pass();
         f.add(f.event(WorkerEventKind::Chosen, "77"));
         f.pass();
         f.add(f.event(WorkerEventKind::Opened));
         f.pass();
         f.add(f.event(WorkerEventKind::Unplugged));
         f.pass();
         f.pass();
     },
     0, "ggggg.", "ggggg."},
    {"events lost on the way",
     [](Feeder& f) {
         f.pass();
         f.history.noteLost(5, 0);
         f.pass();
         f.pass();
     },
     0, "gg.", "gg."},
    {"the wall clock went back",
     [](Feeder& f) {
         f.pass();
         f.wallJump = -60'000;
         f.pass();
         f.pass();
     },
     0, "gg.", "gg."},
    {"two hours stay whole", [](Feeder& f) { f.passes(kFullResolutionMs - 1000); }, 0, "", "", 0,
     static_cast<std::size_t>((kFullResolutionMs - 1000 + kPassMs - 1) / kPassMs)},
    {"older readings thinned to 10 s, a week at most",
     [](Feeder& f) { f.passes(kKeptMs + 24 * 3'600'000, 2000); }, 0, "", "",
     static_cast<std::size_t>((kKeptMs - kFullResolutionMs) / kBucketMs),
     static_cast<std::size_t>(kFullResolutionMs / 2000 + 1)},
};

TEST(HistoryTest, GapsThinningAndBounds) {
    for (const HistoryRun& r : kRuns) {
        SCOPED_TRACE(r.name);
        Feeder f;
        r.run(f);
        if (!r.voltageGaps.empty()) {
            EXPECT_EQ(gaps(f.series(Quantity::Voltage, r.channel)), r.voltageGaps);
            EXPECT_EQ(gaps(f.series(Quantity::Current, r.channel)), r.currentGaps);
        }
        const Series& v1 = f.series(Quantity::Voltage, 0);
        if (r.buckets != kAny) {
            // Within one: the newest bucket may be cut by the two-hour line.
            EXPECT_NEAR(static_cast<double>(v1.buckets().size()), static_cast<double>(r.buckets),
                        1);
            EXPECT_EQ(v1.samples().size(), r.samples);
            for (const Bucket& b : v1.buckets()) {
                ASSERT_EQ(b.min, 500);  // the values alternate: both kept in every bucket
                ASSERT_EQ(b.max, 501);
            }
        }
        EXPECT_LT(f.history.bytesHeld(), 64u << 20);
    }
}

TEST(HistoryTest, APlotFrameShowsTracesStatesStepsAndMarkers) {
    Feeder f;
    WorkerEvent status = f.event(WorkerEventKind::Status);
    status.channel = 0;
    status.state = '1';
    status.mode = 'U';
    f.add(status);
    f.pass();
    WorkerEvent set = f.event(WorkerEventKind::Set);
    set.channel = 0;
    set.values[0] = 800;
    f.add(set);
    f.pass();
    WorkerEvent failed = f.event(WorkerEventKind::SetFailed);
    failed.channel = 0;
    failed.values[0] = 20000;
    failed.outcome = SetOutcome::NotAcknowledged;
    f.add(failed);
    f.tick += 5000;
    f.pass();
    f.add(f.event(WorkerEventKind::GivenUp));
    const std::int64_t from = kWallStart + 1'000'000;
    const PlotFrame frame = buildFrame(f.history, "42", {from, from + 10'000}, 100);
    const ChannelFrame& c = frame.channels[0];
    ASSERT_EQ(c.voltage.size(), 3u);
    EXPECT_FALSE(c.voltage[1].gapBefore);
    EXPECT_TRUE(c.voltage[2].gapBefore);
    EXPECT_EQ(c.voltage[2].column, static_cast<int>((2 * kPassMs + 5000) / 100));
    ASSERT_EQ(c.steps.size(), 1u);
    EXPECT_EQ(c.steps[0].value, 800);
    // The value in force ends where the connection was given up, the failed one stands apart.
    EXPECT_EQ(c.steps[0].toMs, f.event(WorkerEventKind::GivenUp).wallMs);
    ASSERT_EQ(c.failed.size(), 1u);
    EXPECT_EQ(c.failed[0].value, 20000);
    ASSERT_EQ(c.status.size(), 1u);
    EXPECT_EQ(c.status[0].toMs, c.steps[0].toMs);
    ASSERT_EQ(frame.markers.size(), 1u);
    EXPECT_EQ(frame.markers[0].kind, MarkerKind::GivenUp);
    EXPECT_TRUE(frame.channels[1].steps.empty());
}

}  // namespace
}  // namespace pz4
