#include "cli/served_supply.h"

#include "cli/supplies.h"
#include "cli/supply_worker.h"

namespace pz4::cli {
namespace {

// Passes a set value waits for the fresh status it is judged by, and then for its outcome:
// the three failed passes after which a connection is given up, and a few more.
constexpr int kPassesForStatus = 5;
constexpr int kPassesForOutcome = 5;

}  // namespace

// Sees the worker's events on the worker's thread: hands each on to the bridge and notes the
// outcome of the set value being applied.
class ServedSupply::Tee final : public WorkerEventSink {
  public:
    explicit Tee(EventFeed& feed) : feed_(feed) {}
    void record(const WorkerEvent& event) noexcept override {
        feed_.record(event);
        if ((event.kind == WorkerEventKind::Set || event.kind == WorkerEventKind::SetFailed) &&
            event.channel == awaited) {
            outcome = event;
        }
    }

    int awaited = -1;
    std::optional<WorkerEvent> outcome;

  private:
    EventFeed& feed_;
};

ServedSupply::ServedSupply(std::string serial, std::unique_ptr<FtdiLink> link)
    : serial_(std::move(serial)) {
    shared_.fill(NO_VALUE);
    thread_ = std::thread([this, l = std::move(link)]() mutable { run(std::move(l)); });
}

ServedSupply::~ServedSupply() {
    stop_.store(true);
    shared_.StopRequested.store(true);
    thread_.join();
}

bool ServedSupply::order(int channel, std::int32_t value) {
    const auto c = static_cast<std::size_t>(channel);
    std::lock_guard lock(mutex_);
    if (busy_[c]) {
        return false;
    }
    busy_[c] = true;
    orders_[c] = value;
    return true;
}

std::vector<SetResult> ServedSupply::takeResults() {
    std::lock_guard lock(mutex_);
    return std::exchange(results_, {});
}

void ServedSupply::finish(int channel, std::int32_t value, const char* result, std::string reason) {
    std::lock_guard lock(mutex_);
    busy_[static_cast<std::size_t>(channel)] = false;
    results_.push_back({channel, value, result, std::move(reason)});
}

void ServedSupply::run(std::unique_ptr<FtdiLink> link) {
    Tee tee(feed_);
    SupplyWorker w(std::move(link), serial_, shared_, tee);
    // A stop that came while the worker started, which clears it.
    if (stop_.load()) {
        w.requestStop();
    }
    // The set value being applied, when active.
    struct Applying {
        bool active = false;
        int channel = 0;
        std::int32_t value = 0;
        std::uint64_t statusesBefore = 0;
        bool judged = false;
        int passes = 0;
    };
    Applying applying;
    // Why the last open failed, told once until the supply is open again.
    FT_STATUS told = FT_OK;
    while (!stop_.load()) {
        if (!applying.active) {
            std::lock_guard lock(mutex_);
            for (int ch = 0; ch < 3 && !applying.active; ++ch) {
                if (auto& order = orders_[static_cast<std::size_t>(ch)]) {
                    applying = {true, ch, *order, w.worker().statusAnswers()};
                    order.reset();
                }
            }
        }
        if (applying.active && applying.passes == 0) {
            w.worker().wantFreshStatus();
        }
        if (!w.runPass()) {
            break;
        }
        const bool lostNow = !w.supplyOpen() && w.session().serial.load().empty();
        if (lostNow && !lost_.exchange(true) && w.session().link->lastOpenStatus() != told) {
            told = w.session().link->lastOpenStatus();
            reportOpenFailure(*w.session().link, serial_);
        }
        if (w.supplyOpen()) {
            told = FT_OK;
        }
        if (lostNow && tryAgain_.exchange(false)) {
            w.session().serial.store(serial_);
            lost_.store(false);
        }
        if (!applying.active) {
            continue;
        }
        ++applying.passes;
        const int ch = applying.channel;
        if (!applying.judged) {
            if (w.worker().statusAnswers() > applying.statusesBefore) {
                if (!w.channelTakesSetValues(ch)) {
                    finish(ch, applying.value, "refused",
                           "channel " + std::to_string(ch + 1) + ' ' + w.whyNoSetValue(ch));
                    applying = {};
                    continue;
                }
                tee.awaited = ch;
                tee.outcome.reset();
                w.shared().SetRequest[static_cast<std::size_t>(ch)].store(applying.value);
                applying.judged = true;
                applying.passes = 1;
            } else if (lostNow || applying.passes >= kPassesForStatus) {
                finish(ch, applying.value, "failed", "no status came from the supply");
                applying = {};
            }
            continue;
        }
        if (tee.outcome) {
            const SetOutcome outcome = tee.outcome->outcome;
            finish(ch, applying.value,
                   outcome == SetOutcome::Acknowledged    ? "sent"
                   : outcome == SetOutcome::ChannelClosed ? "refused"
                                                          : "failed",
                   outcome == SetOutcome::Acknowledged ? "acknowledged by the supply"
                                                       : setOutcomeText(outcome));
            tee.awaited = -1;
            applying = {};
        } else if (lostNow || applying.passes >= kPassesForOutcome) {
            // Given up with the connection, the value went nowhere.
            w.shared().SetRequest[static_cast<std::size_t>(ch)].store(NO_VALUE);
            finish(ch, applying.value, "failed", "the connection to the supply was lost");
            tee.awaited = -1;
            applying = {};
        }
    }
    if (applying.active) {
        finish(applying.channel, applying.value, "failed", "the bridge is stopping");
    }
}

}  // namespace pz4::cli
