// Makes the README's picture of the History window (scripts/screenshot --history): ten minutes
// of the demo's supplies, run through the worker in virtual time up to the present, with set
// values, a channel switched on, a supply that fell silent, a channel in error and a value that
// could not be set; then the window, offscreen, saved as a PNG.
#include <QApplication>
#include <QDateTime>
#include <QFont>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "history/event_feed.h"
#include "history/history.h"
#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/sim_environment.h"
#include "sim/virtual_clock.h"
#include "ui/history_plot.h"
#include "ui/history_window.h"
#include "worker/channel_tables.h"
#include "worker/no_window.h"
#include "worker/poll_worker.h"

namespace {

using namespace pz4;

constexpr std::uint64_t kRunMs = 10 * 60'000;

// Virtual time whose wall clock reaches the present as the run ends.
class EndingNowClock final : public platform::Clock {
  public:
    std::uint64_t tickMs() override { return clock_.tickMs(); }
    std::int64_t wallMs() override {
        return endWallMs_ - static_cast<std::int64_t>(kRunMs) +
               static_cast<std::int64_t>(clock_.tickMs() - startTick_);
    }
    void sleepMs(std::uint32_t ms) override { clock_.sleepMs(ms); }

  private:
    sim::VirtualClock clock_;
    std::uint64_t startTick_ = clock_.tickMs();
    std::int64_t endWallMs_ = QDateTime::currentMSecsSinceEpoch();
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: history_screenshot OUT.png\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    EndingNowClock clock;
    sim::SimDriver driver(clock);
    sim::SimSettings settings;
    settings.supplies = "42=1U@800,1I@300,0U;77=1U@1500,1U@250,0U";
    settings.noise = "1";
    sim::configure(driver, settings);
    fillChannelTables(NO_VALUE);
    auto session =
        DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
    session->deviceCount = session->link->listDevices();
    session->serial.store("42");
    NoWindow window;
    EventFeed feed;
    History history;
    PollWorker worker(*session, window, clock);
    worker.setEventSink(&feed);
    worker.start();

    const auto now = [&] { return clock.tickMs(); };
    const auto supply = [&](const char* serial, const std::function<void(sim::SimSupply&)>& fn) {
        driver.withSupply(serial, fn);
    };
    const auto choose = [&](const char* serial) {
        session->serial.store(serial);
        session->supplyChoice.fetch_add(1);
    };
    // What happens when, in seconds from the start.
    const std::multimap<int, std::function<void()>> script = {
        {90, [&] { SetRequest[0].store(1000); }},
        {150, [&] { supply("42", [&](auto& s) { s.setChannel(2, '1', 'U'); }); }},
        {170, [&] { SetRequest[2].store(400); }},
        {250, [&] { driver.withFaults("42", [](auto& f) { f.silent = true; }); }},
        {265, [&] { driver.withFaults("42", [](auto& f) { f.silent = false; }); }},
        {330, [&] { supply("42", [&](auto& s) { s.setChannel(1, '2', 'I'); }); }},
        {375, [&] { supply("42", [&](auto& s) { s.setChannel(1, '1', 'I'); }); }},
        {400, [&] { SetRequest[1].store(350); }},
        {440, [&] { supply("42", [&](auto& s) { s.setLoad(0, 8.0); }); }},
        {470, [&] { choose("77"); }},
        {500, [&] { choose("42"); }},
        {530, [&] { SetRequest[0].store(700); }},
    };
    auto next = script.begin();
    const std::uint64_t start = now();
    while (now() - start < kRunMs) {
        for (; next != script.end() &&
               now() - start >= static_cast<std::uint64_t>(next->first) * 1000;
             ++next) {
            next->second();
        }
        if (!worker.runPass()) {
            break;
        }
        feed.drain([&](const WorkerEvent& e, std::uint32_t) { history.add(e); });
        history.trim();
    }

    ui::HistoryWindow shown(history, {});
    shown.showSupply("42");
    shown.plot()->setSpan(10 * 60'000);
    shown.show();
    QApplication::processEvents();
    if (!shown.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "history_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
