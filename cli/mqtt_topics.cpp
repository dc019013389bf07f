#include "cli/mqtt_topics.h"

#include <charconv>
#include "cli/json_text.h"

#include "worker/channel_tables.h"

namespace pz4::cli {
namespace {

// Longer than any value there is: a payload this long is refused without being read.
constexpr std::size_t kMaxSetPayload = 16;

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool servableSerial(std::string_view serial) {
    if (serial.empty()) {
        return false;
    }
    for (const char c : serial) {
        if (c <= ' ' || c > '~' || c == '/' || c == '+' || c == '#') {
            return false;
        }
    }
    return true;
}

std::string channelTopic(std::string_view prefix, std::string_view serial, int channel,
                         std::string_view leaf) {
    return std::string(prefix) + '/' + std::string(serial) + "/ch" + std::to_string(channel + 1) +
           '/' + std::string(leaf);
}

std::optional<SetTopic> parseSetTopic(std::string_view topic, std::string_view prefix) {
    constexpr std::string_view kLeaf = "/voltage/set";
    if (!topic.starts_with(prefix) || topic.size() <= prefix.size() ||
        topic[prefix.size()] != '/' || !topic.ends_with(kLeaf)) {
        return std::nullopt;
    }
    // <serial>/ch<N>
    std::string_view middle = topic.substr(prefix.size() + 1);
    middle.remove_suffix(kLeaf.size());
    const std::size_t slash = middle.rfind('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view serial = middle.substr(0, slash);
    const std::string_view channel = middle.substr(slash + 1);
    if (!servableSerial(serial) || channel.size() != 3 || !channel.starts_with("ch") ||
        channel[2] < '1' || channel[2] > '3') {
        return std::nullopt;
    }
    return SetTopic{std::string(serial), channel[2] - '1'};
}

SetPayload judgeSetPayload(std::string_view payload) {
    if (payload.size() > kMaxSetPayload) {
        return {std::nullopt, "the payload is too long for a value"};
    }
    while (!payload.empty() && blank(payload.front())) {
        payload.remove_prefix(1);
    }
    while (!payload.empty() && blank(payload.back())) {
        payload.remove_suffix(1);
    }
    if (payload.empty()) {
        return {std::nullopt, "the payload is empty"};
    }
    long long value = 0;
    const char* end = payload.data() + payload.size();
    const auto [at, error] = std::from_chars(payload.data(), end, value);
    if (error != std::errc() || at != end) {
        return {std::nullopt, "the payload is not a whole number of volts"};
    }
    if (value <= -kSetValueLimit || value >= kSetValueLimit) {
        return {std::nullopt, "the magnitude of a set value must be below " +
                                  std::to_string(kSetValueLimit) + " V"};
    }
    return {static_cast<std::int32_t>(value), {}};
}

std::string setResult(std::optional<std::int32_t> value, std::string_view result,
                      std::string_view reason) {
    nlohmann::json out;
    out["value"] = value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    out["result"] = result;
    out["reason"] = reason;
    return jsonText(out);
}

}  // namespace pz4::cli
