// pz4ctl serve: supplies on an MQTT broker. Each supply served has a worker of its own; this
// thread lists the supplies, publishes what the workers saw (on change and every 5 s, retained),
// and judges the set messages before any of them goes to a worker.
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/mqtt_client.h"
#include "cli/mqtt_topics.h"
#include "cli/served_supply.h"
#include "cli/supplies.h"
#include "platform/environment.h"
#include "platform/stop_signal.h"
#include "worker/status_presentation.h"

namespace pz4::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kLookEvery = 500ms;
constexpr auto kListEvery = 2s;
constexpr auto kRepublishEvery = 5s;
// Set messages waiting to be judged; a flood beyond this is dropped, and said so.
constexpr std::size_t kMaxWaitingSets = 1024;

// What the broker is to hold of one supply.
struct Values {
    bool online = false;
    std::array<std::optional<std::int32_t>, 3> volts;
    std::array<std::optional<std::int32_t>, 3> microamps;
    std::array<char, 3> state{};
    std::array<char, 3> mode{};

    void take(const WorkerEvent& e) {
        const auto ch = static_cast<std::size_t>(e.channel);
        switch (e.kind) {
            case WorkerEventKind::Voltage:
            case WorkerEventKind::Current:
                for (std::size_t c = 0; c < e.count && c < 3; ++c) {
                    (e.kind == WorkerEventKind::Voltage ? volts : microamps)[c] = e.values[c];
                }
                break;
            case WorkerEventKind::Status:
                state[ch] = e.state;
                mode[ch] = e.mode;
                break;
            case WorkerEventKind::Opened:
                online = true;
                break;
            case WorkerEventKind::GivenUp:
            case WorkerEventKind::Unplugged:
                online = false;
                break;
            default:
                break;
        }
    }
};

struct SetMessage {
    std::string topic;
    std::string payload;
    bool retained;
};

class Bridge {
  public:
    explicit Bridge(const ServeOptions& options) : options_(options) {}

    int run(SignalStop& signals);

  private:
    std::string topic(std::string_view serial, std::string_view leaf) const {
        return options_.prefix + '/' + std::string(serial) + '/' + std::string(leaf);
    }
    std::string statusTopic() const { return options_.prefix + "/bridge/" + clientId_ + "/status"; }
    bool wanted(const std::string& serial) const {
        return options_.serials.empty() || served_.contains(serial) ||
               std::find(options_.serials.begin(), options_.serials.end(), serial) !=
                   options_.serials.end();
    }
    void look(FtdiLink& lister, DriverKind kind);
    void publishValues(const std::string& serial, bool all);
    void judgeSets();
    void answer(const std::string& serial, int channel, std::optional<std::int32_t> value,
                std::string_view result, std::string_view reason);

    const ServeOptions& options_;
    std::string clientId_;
    std::unique_ptr<MqttClient> mqtt_;
    std::map<std::string, std::unique_ptr<ServedSupply>> served_;
    // Every supply served or named, and what the broker holds of it.
    std::map<std::string, Values> values_;
    std::map<std::string, Values> published_;
    std::atomic<bool> justConnected_{false};
    std::mutex setsMutex_;
    std::deque<SetMessage> sets_;
    std::size_t setsDropped_ = 0;
};

void Bridge::look(FtdiLink& lister, DriverKind kind) {
    for (const ListedSupply& supply : listSupplies(lister, kind)) {
        if (!wanted(supply.serial)) {
            continue;
        }
        if (!servableSerial(supply.serial)) {
            static std::set<std::string> told;
            if (told.insert(supply.serial).second) {
                std::fprintf(stderr,
                             "pz4ctl: supply \"%s\" is not served: its serial cannot "
                             "stand in an MQTT topic\n",
                             supply.serial.c_str());
            }
            continue;
        }
        auto it = served_.find(supply.serial);
        if (it == served_.end()) {
            Driver driver = openDriver();
            served_.emplace(supply.serial,
                            std::make_unique<ServedSupply>(supply.serial, std::move(driver.link)));
            values_[supply.serial];
        } else if (it->second->lost()) {
            it->second->tryAgain();
        }
    }
}

void Bridge::publishValues(const std::string& serial, bool all) {
    const Values& now = values_[serial];
    Values& was = published_[serial];
    const auto send = [&](const std::string& t, const std::string& payload) {
        mqtt_->publish(t, payload, true);
    };
    if (all || now.online != was.online) {
        send(topic(serial, "availability"), now.online ? "online" : "offline");
    }
    for (int ch = 0; ch < 3; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        if (now.volts[c] && (all || now.volts[c] != was.volts[c])) {
            send(channelTopic(options_.prefix, serial, ch, "voltage"),
                 std::to_string(*now.volts[c]));
        }
        if (now.microamps[c] && (all || now.microamps[c] != was.microamps[c])) {
            send(channelTopic(options_.prefix, serial, ch, "current"),
                 std::to_string(*now.microamps[c]));
        }
        const char* word = stateWord(now.state[c]);
        if (word != nullptr && (all || now.state[c] != was.state[c])) {
            send(channelTopic(options_.prefix, serial, ch, "state"), word);
        }
        if (now.mode[c] > ' ' && now.mode[c] <= '~' && (all || now.mode[c] != was.mode[c])) {
            send(channelTopic(options_.prefix, serial, ch, "mode"), std::string(1, now.mode[c]));
        }
    }
    if (mqtt_->connected()) {
        was = now;
    }
}

void Bridge::answer(const std::string& serial, int channel, std::optional<std::int32_t> value,
                    std::string_view result, std::string_view reason) {
    mqtt_->publish(channelTopic(options_.prefix, serial, channel, "voltage/set/result"),
                   setResult(value, result, reason), false);
}

void Bridge::judgeSets() {
    std::deque<SetMessage> sets;
    {
        std::lock_guard lock(setsMutex_);
        sets.swap(sets_);
        if (setsDropped_ > 0) {
            std::fprintf(stderr, "pz4ctl: %zu set messages dropped unanswered: too many at once\n",
                         setsDropped_);
            setsDropped_ = 0;
        }
    }
    for (const SetMessage& m : sets) {
        const auto target = parseSetTopic(m.topic, options_.prefix);
        if (!target) {
            continue;  // no set topic of ours: the subscription's pattern is wider
        }
        const SetPayload judged = judgeSetPayload(m.payload);
        const auto it = served_.find(target->serial);
        if (m.retained) {
            // It would be applied again at every start of every bridge.
            answer(target->serial, target->channel, judged.value, "refused",
                   "a retained set message is never applied");
        } else if (it == served_.end()) {
            answer(target->serial, target->channel, judged.value, "refused",
                   "no supply " + target->serial + " is served here");
        } else if (!judged.value) {
            answer(target->serial, target->channel, std::nullopt, "refused", judged.refusal);
        } else if (!it->second->order(target->channel, *judged.value)) {
            answer(target->serial, target->channel, judged.value, "refused",
                   "a set value for this channel is still being applied");
        }
    }
}

int Bridge::run(SignalStop& signals) {
    std::string whyNot;
    const auto broker = parseBrokerUrl(options_.url, whyNot);
    if (!broker) {
        std::fprintf(stderr, "pz4ctl: %s\n", whyNot.c_str());
        return kExitUsage;
    }
    std::array<char, 256> host{};
    gethostname(host.data(), host.size() - 1);
    clientId_ = !options_.clientId.empty()
                    ? options_.clientId
                    : "pz4ctl-" + std::string(host.data()) + '-' + std::to_string(getpid());
    if (!servableSerial(clientId_)) {
        std::fprintf(stderr, "pz4ctl: the client id cannot stand in an MQTT topic\n");
        return kExitUsage;
    }
    Driver lister = openDriver();
    if (!lister.link->driverLoaded()) {
        std::fprintf(stderr, "pz4ctl: the FTDI driver for the PZ4 was not found\n");
        return kExitError;
    }

    MqttClient::Options o{*broker,
                          clientId_,
                          platform::environmentText("PZ4_MQTT_USER"),
                          platform::environmentText("PZ4_MQTT_PASSWORD"),
                          options_.caFile,
                          statusTopic(),
                          "offline"};
    const std::string setPattern = options_.prefix + "/+/+/voltage/set";
    mqtt_ = std::make_unique<MqttClient>(
        o,
        [this, setPattern] {
            if (options_.allowSet) {
                mqtt_->subscribe(setPattern);
            }
            justConnected_.store(true);
        },
        [this](const std::string& t, std::string_view payload, bool retained) {
            std::lock_guard lock(setsMutex_);
            if (sets_.size() >= kMaxWaitingSets) {
                ++setsDropped_;
                return;
            }
            // At most a little more than any value: judged as too long all the same.
            sets_.push_back({t, std::string(payload.substr(0, 64)), retained});
        });
    if (!mqtt_->start(whyNot)) {
        std::fprintf(stderr, "pz4ctl: %s\n", whyNot.c_str());
        return kExitError;
    }

    // A supply named but not attached is offline from the start.
    for (const std::string& serial : options_.serials) {
        if (servableSerial(serial)) {
            values_[serial];
        }
    }
    platform::StopSignal stop;
    const StopHook hook(signals, [&stop] { stop.store(true); });
    auto nextList = Clock::now();
    auto nextRepublish = Clock::now() + kRepublishEvery;
    while (!stop.waitFor(static_cast<std::uint32_t>(kLookEvery.count()))) {
        const auto now = Clock::now();
        if (now >= nextList) {
            look(*lister.link, lister.kind);
            nextList = now + kListEvery;
        }
        bool all = justConnected_.exchange(false);
        if (all) {
            mqtt_->publish(statusTopic(), "online", true);
        }
        if (now >= nextRepublish) {
            all = true;
            nextRepublish = now + kRepublishEvery;
        }
        for (auto& [serial, v] : values_) {
            if (const auto it = served_.find(serial); it != served_.end()) {
                ServedSupply& supply = *it->second;
                supply.events().drain([&v](const WorkerEvent& e, std::uint32_t) { v.take(e); });
                v.online = v.online && !supply.lost();
                for (const SetResult& r : supply.takeResults()) {
                    answer(serial, r.channel, r.value, r.result, r.reason);
                }
            }
            publishValues(serial, all);
        }
        judgeSets();
    }

    // Offline, said by the bridge itself, before it goes.
    for (const auto& [serial, v] : values_) {
        mqtt_->publish(topic(serial, "availability"), "offline", true);
    }
    served_.clear();
    mqtt_->finish(statusTopic(), "offline", 2000);
    return kExitOk;
}

}  // namespace

int runServe(const ServeOptions& options, SignalStop& signals) {
    return Bridge(options).run(signals);
}

}  // namespace pz4::cli
