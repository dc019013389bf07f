// What the history costs: the memory it holds after a week of readings (the two hours whole, the
// rest as 10 s minima and maxima), for a supply at steady readings and for a busy one whose
// every pass sets all three channels, whose states change at every status query and whose
// connection turns every minute; and the time to redraw the History window's plot of an hour
// and of the whole week, frame and painting both, into an image of the window's size.
#include <benchmark/benchmark.h>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <memory>
#include <random>

#include "history/history.h"
#include "history/plot_frame.h"
#include "ui/history_painter.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

using namespace pz4;

constexpr std::int64_t kStartMs = 1'767'600'000'000;
constexpr std::uint64_t kPassMs = 262;  // as the running program measures it
constexpr std::int64_t kHourMs = 3'600'000;

std::size_t heapInUse() {
#if defined(__GLIBC__)
    return mallinfo2().uordblks;
#else
    return 0;
#endif
}

// durationMs of passes, as the worker hands them over, with readings that flicker.
std::unique_ptr<History> fill(std::int64_t durationMs, bool busy) {
    auto history = std::make_unique<History>();
    std::mt19937 noise(42);
    std::uniform_int_distribution<int> flicker(-2, 2);
    WorkerEvent e;
    e.serial = SerialText::from("42");
    e.count = 3;
    std::uint64_t tick = 1'000'000;
    for (std::int64_t t = 0; t < durationMs; t += kPassMs, tick += kPassMs) {
        e.wallMs = kStartMs + t;
        e.tickMs = tick;
        e.channel = -1;
        if (busy && t % 60'000 < static_cast<std::int64_t>(kPassMs)) {
            e.kind = WorkerEventKind::GivenUp;
            history->add(e);
            e.kind = WorkerEventKind::Opened;
            history->add(e);
        }
        if (busy && t % 3100 < static_cast<std::int64_t>(kPassMs)) {
            e.kind = WorkerEventKind::Status;
            for (std::int8_t ch = 0; ch < 3; ++ch) {
                e.channel = ch;
                e.state = (t / 3100) % 2 == 0 ? '1' : '2';
                e.mode = 'U';
                history->add(e);
            }
            e.channel = -1;
        }
        e.kind = WorkerEventKind::Voltage;
        e.values = {800 + flicker(noise), 300 + flicker(noise), flicker(noise)};
        history->add(e);
        e.kind = WorkerEventKind::Current;
        e.values = {81 + flicker(noise), 32 + flicker(noise), 3 + flicker(noise)};
        history->add(e);
        if (busy) {
            e.kind = WorkerEventKind::Set;
            for (std::int8_t ch = 0; ch < 3; ++ch) {
                e.channel = ch;
                e.values[0] = 800 + ch;
                history->add(e);
            }
        }
        history->trim();
    }
    return history;
}

void memoryAtSevenDays(benchmark::State& state) {
    const bool busy = state.range(0) != 0;
    std::size_t held = 0;
    std::size_t heap = 0;
    for (auto _ : state) {
        const std::size_t before = heapInUse();
        const auto history = fill(kKeptMs + kHourMs, busy);
        heap = heapInUse() - before;
        held = history->bytesHeld();
    }
    state.counters["held_MB"] = static_cast<double>(held) / (1 << 20);
    state.counters["heap_MB"] = static_cast<double>(heap) / (1 << 20);
    state.SetLabel(busy ? "busy supply" : "steady readings");
}
BENCHMARK(memoryAtSevenDays)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The plot of the History window at its usual size, over a span of state.range(0) minutes.
void redraw(benchmark::State& state) {
    const std::int64_t spanMs = state.range(0) * 60'000;
    static const auto history = fill(kKeptMs + kHourMs, false);
    const std::int64_t end = kStartMs + kKeptMs + kHourMs;
    QImage image(940, 560, QImage::Format_RGB32);
    const ui::PlotLayout layout = ui::PlotLayout::of(image.rect());
    ui::PlotBuffers buffers;
    for (auto _ : state) {
        const PlotFrame frame = buildFrame(*history, "42", {end - spanMs, end}, layout.columns());
        QPainter painter(&image);
        ui::drawHistory(painter, layout, frame, buffers);
    }
    state.SetLabel(spanMs == kHourMs  ? "one hour"
                   : spanMs < kHourMs ? "ten minutes"
                                      : "seven days");
}
BENCHMARK(redraw)->Arg(10)->Arg(60)->Arg(7 * 24 * 60)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Painting needs a Qt application, not a display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
