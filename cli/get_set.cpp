// pz4ctl list, get and set: one look at the supplies, one fresh reading of a supply, one set
// value under the window's rules.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include "cli/json_text.h"

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/passes.h"
#include "cli/supplies.h"
#include "worker/status_presentation.h"

namespace pz4::cli {
namespace {

using namespace std::chrono_literals;

// Enough for an open, a status query and the readings, and for three failed passes besides.
constexpr auto kAnswerLimit = 10s;

const char* wordOf(char state) {
    const char* word = stateWord(state);
    return word != nullptr ? word : "unknown";
}

// The last reply of the kind that carried all three channels.
std::optional<WorkerEvent> lastFull(const std::vector<WorkerEvent>& events, WorkerEventKind kind) {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind == kind && it->count == 3) {
            return *it;
        }
    }
    return std::nullopt;
}

int reportWait(Waited waited, SupplyWorker& w, const std::string& serial, const char* what) {
    switch (waited) {
        case Waited::Done:
            return kExitOk;
        case Waited::Stopped:
            return kExitOk;
        case Waited::Lost:
            return reportOpenFailure(*w.session().link, serial);
        case Waited::TimedOut:
            break;
    }
    std::fprintf(stderr, "pz4ctl: no %s from supply %s\n", what, serial.c_str());
    return kExitFailed;
}

// A whole number of volts, nothing else: "1e9", "12.5", "0x10" and " 7" are no value.
std::optional<long long> wholeVolts(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int runList(bool json) {
    Driver driver = openDriver();
    if (!driver.link->driverLoaded()) {
        std::fprintf(stderr, "pz4ctl: the FTDI driver for the PZ4 was not found\n");
        return kExitError;
    }
    printSupplies(listSupplies(*driver.link, driver.kind), json);
    return kExitOk;
}

int runGet(const std::string& wanted, bool json, SignalStop& signals) {
    Driver driver = openDriver();
    int code = kExitOk;
    const auto serial = chooseSupply(*driver.link, driver.kind, wanted, json, code);
    if (!serial) {
        return code;
    }
    EventList events;
    WorkerShared shared;
    SupplyWorker w(std::move(driver.link), *serial, shared, events);
    const StopHook hook(signals, [&w] { w.requestStop(); });
    const auto fresh = [&] {
        return w.worker().statusAnswers() > 0 &&
               lastFull(events.events, WorkerEventKind::Voltage) &&
               lastFull(events.events, WorkerEventKind::Current);
    };
    const Waited waited = runUntil(w, kAnswerLimit, fresh);
    if (waited != Waited::Done) {
        return waited == Waited::Stopped ? kExitInterrupted
                                         : reportWait(waited, w, *serial, "reading");
    }
    const WorkerEvent volts = *lastFull(events.events, WorkerEventKind::Voltage);
    const WorkerEvent micro = *lastFull(events.events, WorkerEventKind::Current);
    if (json) {
        nlohmann::json channels = nlohmann::json::array();
        for (int ch = 0; ch < 3; ++ch) {
            const auto c = static_cast<std::size_t>(ch);
            channels.push_back({{"channel", ch + 1},
                                {"voltage", volts.values[c]},
                                {"current", micro.values[c]},
                                {"state", wordOf(w.state(ch))},
                                {"mode", std::string(1, w.mode(ch))}});
        }
        const nlohmann::json out = {{"serial", *serial}, {"channels", channels}};
        std::printf("%s\n", jsonText(out, 2).c_str());
        return kExitOk;
    }
    std::printf("supply %s\n%-8s %10s %11s  %-6s %s\n", serial->c_str(), "channel", "voltage/V",
                "current/uA", "state", "mode");
    for (int ch = 0; ch < 3; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        std::printf("%-8d %10d %11d  %-6s %c\n", ch + 1, volts.values[c], micro.values[c],
                    wordOf(w.state(ch)), w.mode(ch));
    }
    return kExitOk;
}

int runSet(const std::string& wanted, int channel, const std::string& voltsText, double waitSeconds,
           SignalStop& signals) {
    const auto volts = wholeVolts(voltsText);
    if (!volts) {
        std::fprintf(stderr, "pz4ctl: VOLTS must be a whole number, not \"%s\"\n",
                     voltsText.c_str());
        return kExitUsage;
    }
    if (std::llabs(*volts) >= kSetValueLimit) {
        std::fprintf(stderr, "pz4ctl: refused: the magnitude of a set value must be below %lld V\n",
                     static_cast<long long>(kSetValueLimit));
        return kExitRefused;
    }
    Driver driver = openDriver();
    int code = kExitOk;
    const auto serial = chooseSupply(*driver.link, driver.kind, wanted, false, code);
    if (!serial) {
        return code;
    }
    const int ch = channel - 1;
    EventList events;
    WorkerShared shared;
    SupplyWorker w(std::move(driver.link), *serial, shared, events);
    const StopHook hook(signals, [&w] { w.requestStop(); });

    // The supply opened, then a status of its own asked for now: the value is judged by it.
    Waited waited = runUntil(w, kAnswerLimit, [&] { return w.worker().statusAnswers() > 0; });
    if (waited == Waited::Done) {
        const std::uint64_t before = w.worker().statusAnswers();
        w.worker().wantFreshStatus();
        waited = runUntil(w, kAnswerLimit, [&] { return w.worker().statusAnswers() > before; });
    }
    if (waited != Waited::Done) {
        return waited == Waited::Stopped ? kExitInterrupted
                                         : reportWait(waited, w, *serial, "status");
    }
    if (!w.channelTakesSetValues(ch)) {
        std::fprintf(stderr, "pz4ctl: refused: channel %d of supply %s %s\n", channel,
                     serial->c_str(), w.whyNoSetValue(ch).c_str());
        return kExitRefused;
    }

    events.events.clear();
    w.shared().SetRequest[static_cast<std::size_t>(ch)].store(*volts);
    std::optional<WorkerEvent> result;
    waited = runUntil(w, kAnswerLimit, [&] {
        for (const WorkerEvent& e : events.events) {
            if ((e.kind == WorkerEventKind::Set || e.kind == WorkerEventKind::SetFailed) &&
                e.channel == ch) {
                result = e;
            }
        }
        return result.has_value();
    });
    if (!result) {
        return waited == Waited::Stopped ? kExitInterrupted
                                         : reportWait(waited, w, *serial, "acknowledgement");
    }
    if (result->kind == WorkerEventKind::SetFailed) {
        std::fprintf(stderr, "pz4ctl: channel %d of supply %s: %s\n", channel, serial->c_str(),
                     setOutcomeText(result->outcome));
        return result->outcome == SetOutcome::ChannelClosed ? kExitRefused : kExitFailed;
    }
    std::printf("channel %d of supply %s set to %lld V\n", channel, serial->c_str(), *volts);
    if (waitSeconds <= 0) {
        return kExitOk;
    }

    // Within 1 % of the value, and never closer than the 1 V a reading resolves.
    const double tolerance = std::max(1.0, std::abs(static_cast<double>(*volts)) / 100);
    std::optional<std::int32_t> reading;
    const auto limit = std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000));
    waited = runUntil(w, limit, [&] {
        for (const WorkerEvent& e : events.events) {
            if (e.kind == WorkerEventKind::Voltage && e.count > ch) {
                reading = e.values[static_cast<std::size_t>(ch)];
            }
        }
        events.events.clear();
        return reading && std::abs(*reading - static_cast<double>(*volts)) <= tolerance;
    });
    if (waited == Waited::Done) {
        std::printf("channel %d of supply %s reads %d V\n", channel, serial->c_str(), *reading);
        return kExitOk;
    }
    if (waited == Waited::Stopped) {
        return kExitInterrupted;
    }
    if (waited == Waited::Lost) {
        return reportWait(waited, w, *serial, "reading");
    }
    std::fprintf(stderr, "pz4ctl: channel %d of supply %s did not reach %lld V within %g s%s\n",
                 channel, serial->c_str(), *volts, waitSeconds,
                 reading ? (" (it reads " + std::to_string(*reading) + " V)").c_str() : "");
    return kExitFailed;
}

}  // namespace pz4::cli
