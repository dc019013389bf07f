#include "cli/mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <charconv>
#include <chrono>
#include <thread>

namespace pz4::cli {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr unsigned kFirstRetrySeconds = 1;
constexpr unsigned kLongestRetrySeconds = 30;

// libmosquitto wants its library started once for the process.
struct LibraryGuard {
    LibraryGuard() { mosquitto_lib_init(); }
    ~LibraryGuard() { mosquitto_lib_cleanup(); }
};

void startLibrary() {
    static LibraryGuard guard;
}

}  // namespace

std::optional<BrokerAddress> parseBrokerUrl(std::string_view url, std::string& whyNot) {
    BrokerAddress address;
    if (url.starts_with("mqtt://")) {
        url.remove_prefix(7);
    } else if (url.starts_with("mqtts://")) {
        url.remove_prefix(8);
        address.tls = true;
        address.port = 8883;
    } else {
        whyNot = "the broker's URL must begin with mqtt:// or mqtts://";
        return std::nullopt;
    }
    if (url.ends_with('/')) {
        url.remove_suffix(1);
    }
    std::string_view port;
    if (url.starts_with('[')) {
        const std::size_t close = url.find(']');
        if (close == std::string_view::npos) {
            whyNot = "an IPv6 host in the URL lacks its ']'";
            return std::nullopt;
        }
        address.host = std::string(url.substr(1, close - 1));
        url.remove_prefix(close + 1);
        if (url.starts_with(':')) {
            port = url.substr(1);
        } else if (!url.empty()) {
            whyNot = "the URL holds more than a host and a port";
            return std::nullopt;
        }
    } else {
        const std::size_t colon = url.find(':');
        address.host = std::string(url.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = url.substr(colon + 1);
        }
    }
    if (address.host.empty() || address.host.find_first_of("/@ ") != std::string::npos) {
        whyNot =
            "the URL names no host, or more than a host and a port (user and password come "
            "from PZ4_MQTT_USER and PZ4_MQTT_PASSWORD)";
        return std::nullopt;
    }
    if (!port.empty() || url.ends_with(':')) {
        int value = 0;
        const auto [at, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || at != port.data() + port.size() || value < 1 || value > 65535) {
            whyNot = "the port in the URL is no number from 1 to 65535";
            return std::nullopt;
        }
        address.port = value;
    }
    return address;
}

MqttClient::MqttClient(Options options, ConnectFn onConnect, MessageFn onMessage)
    : options_(std::move(options)),
      onConnect_(std::move(onConnect)),
      onMessage_(std::move(onMessage)) {}

MqttClient::~MqttClient() {
    if (client_ == nullptr) {
        return;
    }
    mosquitto_disconnect(client_);
    if (looping_) {
        mosquitto_loop_stop(client_, false);
    }
    mosquitto_destroy(client_);
}

bool MqttClient::start(std::string& whyNot) {
    startLibrary();
    // A clean session: nothing sent to the bridge while it was away is delivered late.
    client_ = mosquitto_new(options_.clientId.c_str(), true, this);
    if (client_ == nullptr) {
        whyNot = "the MQTT client cannot be made";
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttClient::connected);
    mosquitto_disconnect_callback_set(client_, &MqttClient::disconnected);
    mosquitto_message_callback_set(client_, &MqttClient::message);
    mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int) {
        static_cast<MqttClient*>(self)->unacknowledged_.fetch_sub(1);
    });
    mosquitto_reconnect_delay_set(client_, kFirstRetrySeconds, kLongestRetrySeconds, true);
    // MQTT 5 keeps the retain flag of a message forwarded live ("retain as published"): a retained
    // set message is known as one whenever it comes. A broker of 3.1.1 only is met with that.
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    int rc = mosquitto_will_set(client_, options_.willTopic.c_str(),
                                static_cast<int>(options_.willPayload.size()),
                                options_.willPayload.data(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !options_.user.empty()) {
        rc = mosquitto_username_pw_set(
            client_, options_.user.c_str(),
            options_.password.empty() ? nullptr : options_.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && options_.broker.tls) {
        rc = mosquitto_tls_set(client_, options_.caFile.empty() ? nullptr : options_.caFile.c_str(),
                               options_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr,
                               nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        whyNot = mosquitto_strerror(rc);
        return false;
    }
    // The thread retries a broker that cannot be reached now, and every one that goes away.
    rc = mosquitto_loop_start(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        whyNot = mosquitto_strerror(rc);
        return false;
    }
    looping_ = true;
    mosquitto_connect_async(client_, options_.broker.host.c_str(), options_.broker.port,
                            kKeepAliveSeconds);
    return true;
}

bool MqttClient::publish(const std::string& topic, std::string_view payload, bool retain) {
    if (!connected_.load()) {
        return false;
    }
    unacknowledged_.fetch_add(1);
    const int rc = mosquitto_publish(client_, nullptr, topic.c_str(),
                                     static_cast<int>(payload.size()), payload.data(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        unacknowledged_.fetch_sub(1);
        return false;
    }
    return true;
}

bool MqttClient::subscribe(const std::string& pattern) {
    if (version5_.load()) {
        return mosquitto_subscribe_v5(client_, nullptr, pattern.c_str(), 1,
                                      MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                                      nullptr) == MOSQ_ERR_SUCCESS;
    }
    return mosquitto_subscribe(client_, nullptr, pattern.c_str(), 1) == MOSQ_ERR_SUCCESS;
}

void MqttClient::finish(const std::string& topic, std::string_view payload, int timeoutMs) {
    if (client_ == nullptr) {
        return;
    }
    publish(topic, payload, true);
    // QoS 1: wait for the broker's acknowledgements of what is on its way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (connected_.load() && unacknowledged_.load() > 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    mosquitto_disconnect(client_);
}

void MqttClient::connected(mosquitto* m, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    // A broker that knows no MQTT 5 (3.1.1's code 1, 5's 132): the next attempt speaks 3.1.1.
    if ((rc == 1 || rc == 132) && client->version5_.exchange(false)) {
        mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        return;
    }
    if (rc != 0) {
        return;  // refused (bad credentials, ...): the thread retries
    }
    client->unacknowledged_.store(0);
    client->connected_.store(true);
    if (client->onConnect_) {
        client->onConnect_();
    }
}

void MqttClient::disconnected(mosquitto*, void* self, int) {
    static_cast<MqttClient*>(self)->connected_.store(false);
}

void MqttClient::message(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->onMessage_ && message->topic != nullptr) {
        client->onMessage_(
            message->topic,
            std::string_view(
                static_cast<const char*>(message->payload),
                message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0),
            message->retain);
    }
}

}  // namespace pz4::cli
