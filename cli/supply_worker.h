// One supply polled by pz4ctl: a session over the driver's link and a worker of its own, run
// pass by pass on the caller's thread, with the worker's events handed to the caller's sink.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/console_view.h"
#include "link/ftdi_link.h"
#include "platform/clock.h"
#include "protocol/device_session.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"
#include "worker/worker_event.h"

namespace pz4::cli {

// Events kept in order on the worker's own thread, for a caller on that thread.
class EventList final : public WorkerEventSink {
  public:
    void record(const WorkerEvent& event) noexcept override { events.push_back(event); }
    std::vector<WorkerEvent> events;
};

class SupplyWorker {
  public:
    // shared is the worker's tables and flags, which the caller keeps.
    SupplyWorker(std::unique_ptr<FtdiLink> link, const std::string& serial, WorkerShared& shared,
                 WorkerEventSink& events, platform::Clock& clock = platform::systemClock());
    // Closes the supply for good.
    ~SupplyWorker();

    SupplyWorker(const SupplyWorker&) = delete;
    SupplyWorker& operator=(const SupplyWorker&) = delete;

    // One pass; false once a stop was requested.
    bool runPass() { return worker_->runPass(); }
    void requestStop() { shared_.StopRequested.store(true); }

    bool supplyOpen() const { return session_->link->isOpen(); }
    // Whether the latest status lets the channel take a set value.
    bool channelTakesSetValues(int channel) const {
        return session_->status.channelTakesSetValues(channel);
    }
    // The state and mode characters of the latest accepted status.
    char state(int channel) const;
    char mode(int channel) const;
    // Why the latest status lets the channel take no set value: "is off", "is in mode I", ...
    std::string whyNoSetValue(int channel) const;

    DeviceSession& session() { return *session_; }
    PollWorker& worker() { return *worker_; }
    WorkerShared& shared() { return shared_; }

  private:
    ConsoleView view_;
    WorkerShared& shared_;
    std::unique_ptr<DeviceSession> session_;
    std::unique_ptr<PollWorker> worker_;
};

}  // namespace pz4::cli
