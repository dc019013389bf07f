// pz4ctl serve against a real broker, which the test starts on a free port of its own: readings
// arrive retained, a broker that restarts gets them again, a bridge that dies leaves its last
// will, and set messages are judged before anything reaches a supply's wire.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/child_process.h"

namespace pz4 {
namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

bool accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

struct Message {
    std::string topic;
    std::string payload;
    bool retained;
};

// A lab's client: subscribes, publishes, and keeps every message it got.
class Client {
  public:
    Client(int port, const std::string& pattern) {
        mosquitto_lib_init();
        m_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* c = static_cast<Client*>(self);
            std::lock_guard lock(c->mutex_);
            c->messages_.push_back({m->topic,
                                    std::string(static_cast<const char*>(m->payload),
                                                static_cast<std::size_t>(m->payloadlen)),
                                    m->retain});
            c->arrived_.notify_all();
        });
        EXPECT_EQ(mosquitto_connect(m_, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
        EXPECT_EQ(mosquitto_subscribe(m_, nullptr, pattern.c_str(), 1), MOSQ_ERR_SUCCESS);
        mosquitto_loop_start(m_);
    }
    ~Client() {
        mosquitto_disconnect(m_);
        mosquitto_loop_stop(m_, false);
        mosquitto_destroy(m_);
    }

    void publish(const std::string& topic, const std::string& payload, bool retain = false) {
        EXPECT_EQ(mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                    payload.data(), 1, retain),
                  MOSQ_ERR_SUCCESS);
    }

    // The first message on the topic that satisfies accept, waiting up to limit.
    template <typename Accept>
    std::optional<Message> awaitWhere(const std::string& topic, Accept accept,
                                      std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex_);
        std::optional<Message> found;
        arrived_.wait_for(lock, limit, [&] {
            for (const Message& m : messages_) {
                if (m.topic == topic && accept(m)) {
                    found = m;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<Message> await(const std::string& topic, std::chrono::milliseconds limit = 20s) {
        return awaitWhere(
            topic, [](const Message&) { return true; }, limit);
    }
    // Waits until n messages have come on the topic; false when they did not in time.
    bool awaitCount(const std::string& topic, std::size_t n,
                    std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] {
            return static_cast<std::size_t>(
                       std::count_if(messages_.begin(), messages_.end(),
                                     [&](const Message& m) { return m.topic == topic; })) >= n;
        });
    }
    std::vector<Message> on(const std::string& topic) {
        std::lock_guard lock(mutex_);
        std::vector<Message> out;
        for (const Message& m : messages_) {
            if (m.topic == topic) {
                out.push_back(m);
            }
        }
        return out;
    }

  private:
    mosquitto* m_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
};

class MqttBridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ + "/mosquitto.conf")
            << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
        startBroker();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void startBroker() {
        broker_ = std::make_unique<ChildProcess>(
            MOSQUITTO_PROGRAM, std::vector<std::string>{"-c", dir_ + "/mosquitto.conf"},
            std::map<std::string, std::string>{}, dir_);
        for (int i = 0; i < 200 && !accepts(port_); ++i) {
            std::this_thread::sleep_for(25ms);
        }
        ASSERT_TRUE(accepts(port_)) << broker_->err();
    }

    std::unique_ptr<ChildProcess> bridge(const std::string& id, bool allowSet) {
        std::vector<std::string> args{
            "serve", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(port_), "--client-id", id};
        if (allowSet) {
            args.push_back("--allow-set");
        }
        return std::make_unique<ChildProcess>(
            PZ4CTL_PROGRAM, args,
            std::map<std::string, std::string>{{"LD_LIBRARY_PATH", PZ4_SIM_LIBRARY_DIR},
                                               {"PZ4_DRIVER", "d2xx"},
                                               {"PZ4SIM_SUPPLIES", "42=1U@500,0U,1I@300"},
                                               {"PZ4SIM_LOG", dir_ + "/wire.log"}},
            dir_);
    }

    std::vector<std::string> setsOnWire() const {
        std::vector<std::string> sets;
        std::ifstream in(dir_ + "/wire.log");
        for (std::string line; std::getline(in, line);) {
            if (line.find("S ") != std::string::npos) {
                sets.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
            }
        }
        return sets;
    }

    static nlohmann::json result(const Message& m) { return nlohmann::json::parse(m.payload); }

    const int port_ = freePort();
    const std::string dir_ =
        std::filesystem::temp_directory_path().string() + "/pz4-mqtt-" + std::to_string(getpid());
    std::unique_ptr<ChildProcess> broker_;
};

TEST_F(MqttBridgeTest, PublishesRetainedJudgesSetsAndSurvivesTheBroker) {
    const auto online = [](const Message& m) { return m.payload == "online"; };
    auto served = bridge("bridge-test", true);
    {
        Client lab(port_, "pz4/#");
        ASSERT_TRUE(lab.awaitWhere("pz4/bridge/bridge-test/status", online));
        ASSERT_TRUE(lab.awaitWhere("pz4/42/availability", online));
        // Voltages and currents come from two queries, which the bridge may publish apart.
        ASSERT_TRUE(lab.await("pz4/42/ch3/voltage"));
        ASSERT_TRUE(lab.await("pz4/42/ch3/current"));
    }
    // A client that comes later gets the supply's state from the broker, retained.
    Client late(port_, "pz4/42/#");
    for (const char* topic : {"pz4/42/availability", "pz4/42/ch1/voltage", "pz4/42/ch1/current",
                              "pz4/42/ch2/state", "pz4/42/ch3/mode"}) {
        // Live messages may come between them, as the readings move.
        EXPECT_TRUE(late.awaitWhere(topic, [](const Message& m) { return m.retained; })) << topic;
    }
    EXPECT_EQ(late.await("pz4/42/ch2/state")->payload, "off");
    EXPECT_EQ(late.await("pz4/42/ch3/mode")->payload, "I");

    // Malformed, out of range, retained, for a closed channel, for another supply: each is
    // answered with a refusal and its reason, and nothing reaches the wire.
    Client lab(port_, "pz4/+/+/voltage/set/result");
    const std::string set1 = "pz4/42/ch1/voltage/set";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {set1, "text"},
        {set1, "1e9"},
        {set1, ""},
        {set1, "{\"value\": 100}"},
        {set1, std::string(10000, '7')},
        {set1, "20000"},
        {"pz4/42/ch2/voltage/set", "100"},
        {"pz4/77/ch1/voltage/set", "100"}};
    for (const auto& [topic, payload] : refused) {
        lab.publish(topic, payload);
    }
    lab.publish(set1, "100", true);
    const auto answers = [&](const std::string& topic, std::size_t n) {
        return lab.awaitCount(topic + "/result", n);
    };
    ASSERT_TRUE(answers(set1, 7));
    ASSERT_TRUE(answers("pz4/42/ch2/voltage/set", 1));
    ASSERT_TRUE(answers("pz4/77/ch1/voltage/set", 1));
    for (const std::string& topic :
         {set1, std::string("pz4/42/ch2/voltage/set"), std::string("pz4/77/ch1/voltage/set")}) {
        for (const Message& m : lab.on(topic + "/result")) {
            EXPECT_EQ(result(m)["result"], "refused") << m.payload;
            EXPECT_FALSE(result(m)["reason"].get<std::string>().empty()) << m.payload;
        }
    }
    EXPECT_NE(lab.on("pz4/42/ch2/voltage/set/result")[0].payload.find("channel 2 is off"),
              std::string::npos);
    // The broker forgets the retained one (the bridge refuses the empty retained message too).
    lab.publish(set1, "", true);
    ASSERT_TRUE(answers(set1, 8));
    EXPECT_EQ(setsOnWire(), std::vector<std::string>{});

    // A good one goes out once, and says so.
    lab.publish(set1, "250");
    ASSERT_TRUE(answers(set1, 9));
    EXPECT_EQ(result(lab.on(set1 + "/result").back())["result"], "sent");
    EXPECT_EQ(setsOnWire(), std::vector<std::string>{"PZ442S 0,250"});

    // The broker goes away and comes back with nothing retained: the supply is polled all the
    // while, and the bridge reconnects and publishes everything again.
    broker_->signal(SIGTERM);
    ASSERT_EQ(broker_->wait(10s), 0);
    std::this_thread::sleep_for(1500ms);
    startBroker();
    {
        Client after(port_, "pz4/#");
        ASSERT_TRUE(after.awaitWhere("pz4/bridge/bridge-test/status", online, 45s));
        ASSERT_TRUE(after.await("pz4/42/ch1/voltage", 10s));
    }

    // Killed without a word, the bridge is declared offline by its last will.
    served->signal(SIGKILL);
    served->wait(5s);
    Client watcher(port_, "pz4/bridge/#");
    EXPECT_TRUE(watcher.awaitWhere("pz4/bridge/bridge-test/status",
                                   [](const Message& m) { return m.payload == "offline"; }));
}

TEST_F(MqttBridgeTest, WithoutAllowSetNothingReachesTheSupply) {
    auto served = bridge("bridge-readonly", false);
    Client lab(port_, "pz4/#");
    ASSERT_TRUE(lab.awaitWhere("pz4/42/availability",
                               [](const Message& m) { return m.payload == "online"; }));
    lab.publish("pz4/42/ch1/voltage/set", "300");
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(lab.on("pz4/42/ch1/voltage/set/result").empty());
    EXPECT_EQ(setsOnWire(), std::vector<std::string>{});

    // Stopped, it says offline itself: the supply's availability and its own status.
    served->signal(SIGINT);
    EXPECT_EQ(served->wait(10s), 0);
    EXPECT_TRUE(lab.awaitWhere("pz4/42/availability",
                               [](const Message& m) { return m.payload == "offline"; }));
    EXPECT_TRUE(lab.awaitWhere("pz4/bridge/bridge-readonly/status",
                               [](const Message& m) { return m.payload == "offline"; }));
}

}  // namespace
}  // namespace pz4
