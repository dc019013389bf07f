#include "sim/sim_environment.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "link/wire_trace.h"
#include "platform/environment.h"

namespace pz4::sim {
namespace {

// The driver's node holds 15 characters of a serial number.
constexpr std::size_t kMaxSerialLength = 15;
constexpr std::size_t kMaxDescriptionLength = 63;
constexpr int kMaxCount = 1000;
constexpr double kMaxVolts = 100000.0;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t pos = s.find(separator);
        parts.push_back(trim(s.substr(0, pos)));
        if (pos == std::string_view::npos) {
            return parts;
        }
        s.remove_prefix(pos + 1);
    }
}

bool isVisible(char c) {
    return c > ' ' && c < 0x7F;
}

bool validSerial(std::string_view serial) {
    if (serial.empty() || serial.size() > kMaxSerialLength) {
        return false;
    }
    for (char c : serial) {
        if (!isVisible(c) || c == '=' || c == ',' || c == ':') {
            return false;
        }
    }
    return true;
}

std::optional<int> parseCount(std::string_view text) {
    text = trim(text);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < 0 ||
        value > kMaxCount) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseVolts(std::string_view text) {
    if (text.empty() || text.size() > 32) {
        return std::nullopt;
    }
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value) ||
        std::fabs(value) > kMaxVolts) {
        return std::nullopt;
    }
    return value;
}

// "XY" or "XY@volts".
std::optional<ChannelPlan> parseChannel(std::string_view text) {
    if (text.size() < 2 || !isVisible(text[0]) || !isVisible(text[1]) || text[0] == '@' ||
        text[1] == '@') {
        return std::nullopt;
    }
    ChannelPlan setting{text[0], text[1], 0.0};
    text.remove_prefix(2);
    if (!text.empty()) {
        if (text[0] != '@') {
            return std::nullopt;
        }
        auto volts = parseVolts(text.substr(1));
        if (!volts) {
            return std::nullopt;
        }
        setting.volts = *volts;
    }
    return setting;
}

std::optional<SupplyPlan> supplyPlan(std::string_view entry) {
    const std::size_t eq = entry.find('=');
    const std::string_view serial = trim(entry.substr(0, eq));
    if (!validSerial(serial)) {
        return std::nullopt;
    }
    SupplyPlan plan{std::string(serial), {}};
    if (eq != std::string_view::npos) {
        const auto parts = split(entry.substr(eq + 1), ',');
        if (parts.size() != plan.channels.size()) {
            return std::nullopt;
        }
        for (std::size_t ch = 0; ch < plan.channels.size(); ++ch) {
            auto setting = parseChannel(parts[ch]);
            if (!setting) {
                return std::nullopt;
            }
            plan.channels[ch] = *setting;
        }
    }
    return plan;
}

std::optional<OtherDevicePlan> otherPlan(std::string_view entry) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view serial = trim(entry.substr(0, colon));
    const std::string_view description = entry.substr(colon + 1);
    if (!validSerial(serial) || description.size() > kMaxDescriptionLength) {
        return std::nullopt;
    }
    for (char c : description) {
        if (c < ' ' || c >= 0x7F) {
            return std::nullopt;
        }
    }
    return OtherDevicePlan{std::string(serial), std::string(description)};
}

void installCommandLog(SimDriver& driver, const std::string& path) {
    std::FILE* raw = std::fopen(path.c_str(), "a");
    if (raw == nullptr) {
        return;
    }
    std::shared_ptr<std::FILE> file(raw, [](std::FILE* f) { std::fclose(f); });
    driver.setCommandObserver(
        [file](std::uint64_t tickMs, std::string_view serial, std::string_view command) {
            const std::string line = commandLogLine(tickMs, serial, command);
            std::fwrite(line.data(), 1, line.size(), file.get());
            std::fflush(file.get());
        });
}

std::string env(const char* name) {
    return platform::environmentText(name);
}

}  // namespace

SimSettings settingsFromEnvironment() {
    return {env("PZ4SIM_SUPPLIES"), env("PZ4SIM_OTHER"), env("PZ4SIM_EXTRA_DEVICES"),
            env("PZ4SIM_NOISE"),    env("PZ4SIM_LOG"),   env("PZ4SIM_LATENCY_MS"),
            env("PZ4SIM_SEED")};
}

SimPlan planFrom(const SimSettings& settings) {
    SimPlan plan;
    plan.noise = parseCount(settings.noise).value_or(0);
    if (!settings.supplies.empty()) {
        for (std::string_view entry : split(settings.supplies, ';')) {
            if (auto supply = supplyPlan(entry)) {
                plan.supplies.push_back(std::move(*supply));
            }
        }
    }
    if (!settings.otherDevices.empty()) {
        for (std::string_view entry : split(settings.otherDevices, ';')) {
            if (auto other = otherPlan(entry)) {
                plan.otherDevices.push_back(std::move(*other));
            }
        }
    }
    plan.extraDevices = parseCount(settings.extraDevices).value_or(-1);
    plan.logPath = settings.logPath;
    return plan;
}

void setUpSupply(SimSupply& supply, const SupplyPlan& plan, int noise, std::uint64_t nowMs) {
    supply.noise = noise;
    // Readings start at 0 V and ramp to the set voltage, so a viewer sees them move.
    supply.update(nowMs);
    for (std::size_t ch = 0; ch < plan.channels.size(); ++ch) {
        const int index = static_cast<int>(ch);
        supply.setChannel(index, plan.channels[ch].state, plan.channels[ch].mode);
        supply.setSetVoltage(index, plan.channels[ch].volts, nowMs);
    }
}

std::string commandLogLine(std::uint64_t tickMs, std::string_view serial,
                           std::string_view command) {
    // Plain texts stay unquoted, so that a line reads "<tick> 42 PZ442GU".
    auto shown = [](std::string_view text) {
        const std::string quoted = escapedBytes(text);
        return quoted.substr(1, quoted.size() - 2);
    };
    std::string line = std::to_string(tickMs) + ' ' + shown(serial) + ' ' + shown(command);
    if (misaddressed(command, serial)) {
        line += " MISADDRESSED";
    }
    return line + '\n';
}

void configure(SimDriver& driver, const SimSettings& settings) {
    const SimPlan plan = planFrom(settings);
    for (const SupplyPlan& supply : plan.supplies) {
        setUpSupply(driver.addSupply(supply.serial), supply, plan.noise, driver.clock().tickMs());
    }
    for (const OtherDevicePlan& other : plan.otherDevices) {
        driver.addOtherDevice(other.serial, other.description);
    }
    if (plan.extraDevices >= 0) {
        driver.withDriverFaults(
            [&](SimDriverFaults& f) { f.extraReportedNodes = plan.extraDevices; });
    }
    if (!plan.logPath.empty()) {
        installCommandLog(driver, plan.logPath);
    }
    if (auto latency = parseCount(settings.latencyMs)) {
        driver.latencyTimerMs = static_cast<std::uint32_t>(*latency);
    }
    if (auto seed = parseCount(settings.seed)) {
        driver.seedPhases(static_cast<std::uint32_t>(*seed));
    }
}

void configureFromEnvironment(SimDriver& driver) {
    configure(driver, settingsFromEnvironment());
}

}  // namespace pz4::sim
