// A connection to an MQTT broker through libmosquitto: connects in the background, reconnects
// with back-off for as long as it lives, with a clean session each time and a last will.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct mosquitto;
struct mosquitto_message;

namespace pz4::cli {

struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
};
// "mqtt://host[:port]" or "mqtts://host[:port]" (port 1883 or 8883 by default; an IPv6 host in
// brackets). Nothing, with the reason, for anything else.
std::optional<BrokerAddress> parseBrokerUrl(std::string_view url, std::string& whyNot);

class MqttClient {
  public:
    struct Options {
        BrokerAddress broker;
        std::string clientId;
        std::string user;  // none when empty
        std::string password;
        std::string caFile;  // for TLS; the system's certificates when empty
        std::string willTopic;
        std::string willPayload;
    };
    // Both run on the client's own thread: onConnect after every (re)connection, onMessage
    // for every message of a subscription.
    using ConnectFn = std::function<void()>;
    using MessageFn =
        std::function<void(const std::string& topic, std::string_view payload, bool retained)>;

    MqttClient(Options options, ConnectFn onConnect, MessageFn onMessage);
    // Disconnects (the last will is not sent) and ends the client's thread.
    ~MqttClient();

    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts connecting; false, with the reason, when the options cannot work at all.
    bool start(std::string& whyNot);
    bool connected() const { return connected_.load(); }

    // QoS 1. False when the message could not be handed to the client (not connected).
    bool publish(const std::string& topic, std::string_view payload, bool retain);
    bool subscribe(const std::string& pattern);
    // Publishes the last words itself, then disconnects cleanly, waiting up to timeoutMs for
    // what is queued to go out.
    void finish(const std::string& topic, std::string_view payload, int timeoutMs);

  private:
    static void connected(mosquitto*, void* self, int rc);
    static void disconnected(mosquitto*, void* self, int rc);
    static void message(mosquitto*, void* self, const mosquitto_message* message);

    Options options_;
    ConnectFn onConnect_;
    MessageFn onMessage_;
    mosquitto* client_ = nullptr;
    bool looping_ = false;
    std::atomic<bool> connected_{false};
    std::atomic<bool> version5_{true};
    std::atomic<int> unacknowledged_{0};
};

}  // namespace pz4::cli
