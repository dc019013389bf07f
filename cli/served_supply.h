// One supply the MQTT bridge serves: its own worker on a thread of its own, whose events the
// bridge drains, and the set values the bridge hands it, one a channel at a time, each judged
// by a fresh status of the supply before it goes out.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "history/event_feed.h"
#include "link/ftdi_link.h"
#include "worker/channel_tables.h"

namespace pz4::cli {

struct SetResult {
    int channel = 0;  // 0..2
    std::int32_t value = 0;
    const char* result = "";  // "sent", "refused", "failed"
    std::string reason;
};

class ServedSupply {
  public:
    // Starts polling the supply with this serial over its own link.
    ServedSupply(std::string serial, std::unique_ptr<FtdiLink> link);
    // Stops the worker, closes the supply and ends the thread.
    ~ServedSupply();

    ServedSupply(const ServedSupply&) = delete;
    ServedSupply& operator=(const ServedSupply&) = delete;

    const std::string& serial() const { return serial_; }
    EventFeed& events() { return feed_; }

    // A set value for the channel; false while another for that channel is being applied.
    bool order(int channel, std::int32_t value);
    std::vector<SetResult> takeResults();
    // The supply is listed again after the worker could not open it: it may try again.
    void tryAgain() { tryAgain_.store(true); }
    bool lost() const { return lost_.load(); }

  private:
    class Tee;
    void run(std::unique_ptr<FtdiLink> link);
    // Tells the bridge what became of the channel's set value, and takes the next.
    void finish(int channel, std::int32_t value, const char* result, std::string reason);

    const std::string serial_;
    EventFeed feed_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> tryAgain_{false};
    std::atomic<bool> lost_{false};
    std::mutex mutex_;
    // Per channel: a value waiting for its turn, and whether one is being applied.
    std::array<std::optional<std::int32_t>, 3> orders_;
    std::array<bool, 3> busy_{};
    std::vector<SetResult> results_;
    WorkerShared shared_;
    std::thread thread_;
};

}  // namespace pz4::cli
