#include "sim/sim_supply.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pz4::sim {
namespace {

constexpr std::string_view kErr = "ERR\r\n";
constexpr std::string_view kCommandStart = "PZ4";
// Channel and value texts longer than this are no command a supply would take.
constexpr std::size_t kMaxNumberDigits = 9;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool validChannel(int ch) {
    return ch >= 0 && ch < 3;
}

// Readings go out as integers; anything not representable is clamped rather than left to an
// undefined conversion.
long long toReported(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    return std::llround(std::clamp(value, -1e9, 1e9));
}

std::optional<long long> parseDigits(std::string_view text) {
    if (text.empty() || text.size() > kMaxNumberDigits) {
        return std::nullopt;
    }
    long long value = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

struct SetCommand {
    long long channel;
    long long value;
};

// "... S <ch>,<value>" at the very end: the last "S " whose remainder is a channel, a comma,
// an optional sign and digits. at receives where the "S " stands.
std::optional<SetCommand> parseSet(std::string_view text, std::size_t* at = nullptr) {
    std::size_t pos = text.rfind("S ");
    while (pos != std::string_view::npos) {
        std::string_view rest = text.substr(pos + 2);
        std::size_t comma = rest.find(',');
        if (comma != std::string_view::npos && comma > 0 && isDigit(rest[0])) {
            auto channel = parseDigits(rest.substr(0, comma));
            std::string_view valueText = rest.substr(comma + 1);
            bool negative = false;
            if (!valueText.empty() && (valueText[0] == '+' || valueText[0] == '-')) {
                negative = valueText[0] == '-';
                valueText.remove_prefix(1);
            }
            auto value = parseDigits(valueText);
            if (channel && value) {
                if (at != nullptr) {
                    *at = pos;
                }
                return SetCommand{*channel, negative ? -*value : *value};
            }
        }
        if (pos == 0) {
            break;
        }
        pos = text.rfind("S ", pos - 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> namedSerial(std::string_view command) {
    if (!command.starts_with(kCommandStart)) {
        return std::nullopt;
    }
    const std::string_view body = command.substr(kCommandStart.size());
    for (std::string_view letters : {"GSS", "GU", "GI"}) {
        if (body.ends_with(letters)) {
            return body.substr(0, body.size() - letters.size());
        }
    }
    std::size_t at = 0;
    if (parseSet(body, &at)) {
        return body.substr(0, at);
    }
    return std::nullopt;
}

bool isSetCommand(std::string_view command) {
    return command.starts_with(kCommandStart) && parseSet(command.substr(kCommandStart.size()));
}

SimSupply::SimSupply(std::string serial) : serial_(std::move(serial)) {
    // 1, 2 and 3 uA: channels that are off, or at equal voltages, do not read alike, and a
    // current is no voltage of its channel (but at 1 V, read as whole numbers).
    for (std::size_t ch = 0; ch < channels_.size(); ++ch) {
        channels_[ch].standingMicroamps = static_cast<double>(ch + 1);
    }
}

void SimSupply::advance(std::uint64_t nowMs) {
    if (!started_ || nowMs < lastUpdateMs_) {
        started_ = true;
        lastUpdateMs_ = nowMs;
        return;
    }
    const double seconds = static_cast<double>(nowMs - lastUpdateMs_) / 1000.0;
    lastUpdateMs_ = nowMs;
    const bool instant = !(rampVoltsPerSecond > 0.0) || !std::isfinite(rampVoltsPerSecond);
    const double step = rampVoltsPerSecond * seconds;
    for (SimChannel& c : channels_) {
        double target;
        if (c.state == '1') {
            target = c.setVoltage;
        } else if (c.state == '0') {
            target = 0.0;
        } else {
            continue;  // an error channel holds whatever it had
        }
        const double diff = target - c.measuredVoltage;
        if (instant || std::fabs(diff) <= step) {
            c.measuredVoltage = target;
        } else {
            c.measuredVoltage += diff > 0 ? step : -step;
        }
    }
}

std::optional<std::string> SimSupply::handleCommand(std::string_view command, std::uint64_t nowMs) {
    if (!command.starts_with(kCommandStart)) {
        return std::string(kErr);
    }
    advance(nowMs);
    const std::string_view body = command.substr(kCommandStart.size());
    if (body.ends_with("GSS")) {
        return statusText(nowMs) + "\r\n";
    }
    const bool voltages = body.ends_with("GU");
    if (voltages || body.ends_with("GI")) {
        // +noise, -noise, 0, ... so the demo shows readings change without drifting.
        static constexpr int kFlicker[3] = {1, -1, 0};
        const long long offset = static_cast<long long>(noise) * kFlicker[noiseStep_ % 3];
        ++noiseStep_;
        std::string reply = serial_;
        for (const SimChannel& c : channels_) {
            double value = c.measuredVoltage;
            if (!voltages) {
                value = (c.loadMegaohm > 0.0 ? c.measuredVoltage / c.loadMegaohm : 0.0) +
                        c.standingMicroamps;
            }
            // Only a live output flickers: an off or faulted channel reads steady.
            reply += ',';
            reply += std::to_string(toReported(value) + (c.state == '1' ? offset : 0));
        }
        return reply + "\r\n";
    }
    if (auto set = parseSet(body)) {
        if (set->channel > 2) {
            return std::string(kErr);
        }
        channels_[static_cast<std::size_t>(set->channel)].setVoltage =
            static_cast<double>(set->value);
        return serial_ + ",ok\r\n";
    }
    return std::string(kErr);
}

std::string SimSupply::statusText(std::uint64_t nowMs) {
    advance(nowMs);
    std::string text = "0 S:000 MOD:UUU FW:2.13 T:+23C";
    text[0] = firmwareDigit_;
    for (std::size_t ch = 0; ch < channels_.size(); ++ch) {
        text[4 + ch] = channels_[ch].state;
        text[12 + ch] = channels_[ch].mode;
    }
    return text;
}

SimChannel SimSupply::channel(int ch, std::uint64_t nowMs) {
    advance(nowMs);
    return validChannel(ch) ? channels_[static_cast<std::size_t>(ch)] : SimChannel{};
}

void SimSupply::setChannel(int ch, char state, char mode) {
    if (validChannel(ch)) {
        channels_[static_cast<std::size_t>(ch)].state = state;
        channels_[static_cast<std::size_t>(ch)].mode = mode;
    }
}

void SimSupply::setSetVoltage(int ch, double volts, std::uint64_t nowMs) {
    advance(nowMs);
    if (validChannel(ch)) {
        channels_[static_cast<std::size_t>(ch)].setVoltage = volts;
    }
}

void SimSupply::setMeasuredVoltage(int ch, double volts, std::uint64_t nowMs) {
    advance(nowMs);
    if (validChannel(ch)) {
        channels_[static_cast<std::size_t>(ch)].measuredVoltage = volts;
    }
}

void SimSupply::setLoad(int ch, double megaohm) {
    if (validChannel(ch)) {
        channels_[static_cast<std::size_t>(ch)].loadMegaohm = megaohm;
    }
}

}  // namespace pz4::sim
