// The background worker: the only code that talks to the supply. It runs in passes of about
// 200 ms that keep the supply list current, connect and reconnect, show changed readings and
// send the set values the operator entered.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "protocol/device_session.h"
#include "worker/readout_view.h"

namespace pz4 {

class PollWorker {
  public:
    PollWorker(DeviceSession& session, ReadoutView& view, platform::Clock& clock);

    // The start of the thread: raises WorkerRunning, clears StopRequested, and dates the last
    // listing and status query far enough back that the first pass does both when it can.
    void start();
    // One pass; false when StopRequested was seen and the worker must exit.
    bool runPass();
    // Closes the device for good, lowers the flags and asks the window to close.
    void exit();
    // start(), passes until stopped, exit().
    void run();

    int failedPolls() const { return failedPolls_; }

  private:
    std::uint64_t elapsedSince(std::uint64_t stamp) { return clock_.tickMs() - stamp; }
    void listIfDue();
    void rebuildSerialList(std::int32_t count);
    // The operator chose another supply since the last look: the worker starts over.
    bool choiceChanged() const { return session_.supplyChoice.load() != seenChoice_; }
    // Gives the open supply up: closes it and forgets all it showed and allowed, so that no
    // reading, set field or pending value of it outlives the connection.
    void giveUp();
    // Opens the chosen supply if none is open; false ends the pass.
    bool connect();
    // Queries and presents the status when due; false ends the pass.
    bool refreshStatus();
    struct ReadingKind;
    // Queries one kind of reading and shows each that changed; false when the query failed.
    bool showReadings(const ReadingKind& kind);
    void countPass(bool failed);
    void sendSetValues();

    DeviceSession& session_;
    FtdiLink& link_;
    ReadoutView& view_;
    platform::Clock& clock_;

    std::uint64_t lastEnumTick_ = 0;
    std::uint64_t lastStatusTick_ = 0;
    std::int32_t failedPolls_ = 0;
    bool readoutsCleared_ = false;
    std::uint32_t seenChoice_ = 0;
    // The supply was just given up for another choice: it opens without the idle pause.
    bool openAtOnce_ = false;
};

// The thread's entry routine: runs a worker over ActiveSession and the window. Returns 0.
int PollThread(ReadoutView& window, platform::Clock& clock = platform::systemClock());

}  // namespace pz4
