// The background worker: the only code that talks to the supply. It runs in passes of about
// 200 ms that keep the supply list current, connect and reconnect, show changed readings and
// send the set values the operator entered.
#pragma once

#include <array>
#include <cstdint>

#include "platform/clock.h"
#include "protocol/device_session.h"
#include "worker/channel_tables.h"
#include "worker/readout_view.h"
#include "worker/worker_event.h"

namespace pz4 {

class PollWorker {
  public:
    // The window's worker shares WindowWorker; any other brings its own.
    PollWorker(DeviceSession& session, ReadoutView& view, platform::Clock& clock,
               WorkerShared& shared = WindowWorker);

    // Where the worker hands what it saw over (readings, status changes, set commands, the
    // connection's turns); none by default.
    void setEventSink(WorkerEventSink* sink) { events_ = sink; }
    // The pause between passes; 200 ms unless a front end asks for another.
    void setPassPause(std::uint32_t ms) { passPauseMs_ = ms; }
    // The next pass queries the status first, whenever it was last queried: a front end that
    // is about to hand over a set value wants it judged by a fresh status. Call it between
    // passes, on the worker's thread.
    void wantFreshStatus() { lastStatusTick_ = clock_.tickMs() - kBackdateMs; }

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
    // Status replies accepted so far: a front end can tell whether a pass brought a fresh one.
    std::uint64_t statusAnswers() const { return statusAnswers_; }

  private:
    // Far enough back that a listing or a status query dated so is due at once.
    static constexpr std::uint64_t kBackdateMs = 10000;

    std::uint64_t elapsedSince(std::uint64_t stamp) { return clock_.tickMs() - stamp; }
    bool stopping() const { return shared_.StopRequested.load(); }
    // Hands an event over, stamped now, for the given supply.
    void report(WorkerEvent event, const SerialText& serial);
    void listIfDue();
    void rebuildSerialList(std::int32_t count);
    // The operator chose another supply since the last look: the worker starts over.
    bool choiceChanged() const { return session_.supplyChoice.load() != seenChoice_; }
    // Gives the open supply up: closes it and forgets all it showed and allowed, so that no
    // reading, set field or pending value of it outlives the connection.
    void giveUp();
    // The supply last opened is missing from the listing just made: it was unplugged.
    void noteUnplugged();
    // Opens the chosen supply if none is open; false ends the pass.
    bool connect();
    // Queries and presents the status when due; false ends the pass.
    bool refreshStatus();
    struct ReadingKind;
    // Queries one kind of reading and shows each that changed; false when the query failed.
    bool showReadings(const ReadingKind& kind);
    // Marks the kind's readouts from channel `from` on stale: their readings did not come.
    void markStale(const ReadingKind& kind, int from);
    void reportStatusChanges(const StatusBytes& before);
    void countPass(bool failed);
    void sendSetValues();
    void sendSetValue(int channel, std::int32_t value);

    DeviceSession& session_;
    WorkerShared& shared_;
    FtdiLink& link_;
    ReadoutView& view_;
    platform::Clock& clock_;

    std::uint32_t passPauseMs_ = 200;
    std::uint64_t lastEnumTick_ = 0;
    std::uint64_t lastStatusTick_ = 0;
    std::int32_t failedPolls_ = 0;
    std::uint64_t statusAnswers_ = 0;
    bool readoutsCleared_ = false;
    std::uint32_t seenChoice_ = 0;
    // The supply was just given up for another choice: it opens without the idle pause.
    bool openAtOnce_ = false;
    // Readouts marked stale, voltages then currents, by channel.
    std::array<bool, 6> stale_{};
    WorkerEventSink* events_ = nullptr;
    // The supply opened last, until a listing finds it gone or another is chosen.
    SerialText lastOpened_;
};

// The thread's entry routine: runs a worker over ActiveSession and the window, handing its events
// to sink if there is one. Returns 0.
int PollThread(ReadoutView& window, platform::Clock& clock = platform::systemClock(),
               WorkerEventSink* sink = nullptr);

}  // namespace pz4
