#include "worker/poll_worker.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/timer_resolution.h"
#include "protocol/commands.h"
#include "protocol/numeric_reply.h"
#include "worker/channel_tables.h"
#include "worker/status_presentation.h"

namespace pz4 {
namespace {

constexpr std::uint32_t kIdlePauseMs = 500;
constexpr std::uint64_t kListIntervalClosedMs = 1000;
constexpr std::uint64_t kListIntervalOpenMs = 3000;
constexpr std::uint64_t kStatusIntervalMs = 3100;
// After giving a connection up, back-date the listing so the next pass lists whichever
// interval applies.
constexpr std::uint64_t kRelistBackdateMs = 3001;
constexpr int kFailedPassLimit = 2;

using ReadingText = std::array<char, 50>;

const char* formatReading(ReadingText& text, std::int32_t value) {
    std::snprintf(text.data(), text.size(), "%i", static_cast<int>(value));
    return text.data();
}

}  // namespace

// A kind of reading: its query, what its readouts show, and whether an empty set field takes
// the reading as its first text.
struct PollWorker::ReadingKind {
    bool (*formatQuery)(CommandText&, const SerialText&);
    ChannelSlots& shown;
    Readout (*readout)(int channel);
    std::size_t staleIndex;  // where the kind's marks start in stale_
    WorkerEventKind event;
    bool prefillsSetField;
};

PollWorker::PollWorker(DeviceSession& session, ReadoutView& view, platform::Clock& clock,
                       WorkerShared& shared)
    : session_(session), shared_(shared), link_(*session.link), view_(view), clock_(clock) {}

void PollWorker::start() {
    shared_.WorkerRunning.store(true);
    shared_.StopRequested.store(false);
    link_.watchStop(shared_.StopRequested);
    failedPolls_ = 0;
    readoutsCleared_ = false;
    seenChoice_ = session_.supplyChoice.load();
    lastEnumTick_ = clock_.tickMs() - kBackdateMs;
    lastStatusTick_ = clock_.tickMs() - kBackdateMs;
    if (const SerialText chosen = session_.serial.load(); !chosen.empty()) {
        report(WorkerEvent{WorkerEventKind::Chosen}, chosen);
    }
}

void PollWorker::run() {
    start();
    if (!stopping()) {
        while (runPass()) {
        }
    }
    exit();
}

bool PollWorker::runPass() {
    // One wait that a stop request ends at once.
    if (clock_.waitMs(passPauseMs_, shared_.StopRequested)) {
        return false;
    }
    session_.waitBusFree();
    // Before any exchange: nothing more goes to, or comes from, a supply the operator left.
    if (choiceChanged()) {
        seenChoice_ = session_.supplyChoice.load();
        giveUp();
        openAtOnce_ = true;
        lastOpened_ = {};
        report(WorkerEvent{WorkerEventKind::Chosen}, session_.serial.load());
    }
    listIfDue();
    // A stop request ends the pass between any two steps: no exchange starts after it, and a
    // query it cut short counts as no failure.
    if (!stopping() && connect() && !stopping() && refreshStatus()) {
        const ReadingKind voltages{.formatQuery = formatVoltageQuery,
                                   .shown = shared_.VoltageShown,
                                   .readout = voltageReadout,
                                   .staleIndex = 0,
                                   .event = WorkerEventKind::Voltage,
                                   .prefillsSetField = true};
        const ReadingKind currents{.formatQuery = formatCurrentQuery,
                                   .shown = shared_.CurrentShown,
                                   .readout = currentReadout,
                                   .staleIndex = 3,
                                   .event = WorkerEventKind::Current,
                                   .prefillsSetField = false};
        const bool voltagesOk = !stopping() && showReadings(voltages);
        const bool currentsOk = !stopping() && showReadings(currents);
        if (!stopping()) {
            countPass(!voltagesOk || !currentsOk);
            sendSetValues();
        }
    }
    return !stopping();
}

void PollWorker::report(WorkerEvent event, const SerialText& serial) {
    if (events_ == nullptr) {
        return;
    }
    event.wallMs = clock_.wallMs();
    event.tickMs = clock_.tickMs();
    event.serial = serial;
    events_->record(event);
}

void PollWorker::giveUp() {
    failedPolls_ = 0;
    link_.closeDevice();
    // First the status goes, so that the window takes no new value; once the window has carried
    // out the operations below, every value it took before is in SetRequest to be dropped.
    session_.resetStatus();
    session_.ForgetPreviousStatus();
    view_.ClearReadings();
    stale_.fill(false);
    fillSlots(shared_.VoltageShown, NO_VALUE);
    fillSlots(shared_.CurrentShown, NO_VALUE);
    // No number stands in a set field that was never sent; the next status reply sets them up
    // as at any first reply.
    for (int ch = 0; ch < 3; ++ch) {
        view_.SetSetFieldText(ch, "");
        view_.SetSetFieldReadOnly(ch, true);
    }
    fillSlots(shared_.SetRequest, NO_VALUE);
}

void PollWorker::listIfDue() {
    const std::uint64_t limit = link_.isOpen() ? kListIntervalOpenMs : kListIntervalClosedMs;
    if (elapsedSince(lastEnumTick_) <= limit) {
        return;
    }
    lastEnumTick_ = clock_.tickMs();
    session_.busy.store(1);
    const std::int32_t count = link_.listDevices();
    session_.releaseBus();
    if (count != session_.deviceCount) {
        session_.deviceCount = count;
        rebuildSerialList(count);
    }
    noteUnplugged();
}

void PollWorker::noteUnplugged() {
    if (lastOpened_.empty() || link_.closing.load()) {
        return;
    }
    for (const auto& entry : link_.serials()) {
        if (entry[0] == '\0') {
            break;
        }
        if (lastOpened_.view() == entry.data()) {
            return;
        }
    }
    report(WorkerEvent{WorkerEventKind::Unplugged}, lastOpened_);
    lastOpened_ = {};
}

void PollWorker::rebuildSerialList(std::int32_t count) {
    view_.ResetSerialList();
    const auto serials = link_.serials();
    for (std::int32_t j = 0; j < count; ++j) {
        const char* entry = serials[static_cast<std::size_t>(j)].data();
        if (entry[0] == '\0') {
            break;
        }
        view_.AddSerial(entry);
    }
    // Select by text: the list is sorted, so a position in the driver's order would show one
    // supply while the readings come from another.
    view_.SelectSerial(view_.FindSerial(session_.serial.load().view()));
}

bool PollWorker::connect() {
    if (link_.isOpen()) {
        return true;
    }
    session_.ForgetPreviousStatus();
    if (std::exchange(openAtOnce_, false)) {
        readoutsCleared_ = true;
    } else if (readoutsCleared_) {
        if (clock_.waitMs(kIdlePauseMs, shared_.StopRequested)) {
            return false;  // stopping: nothing more to open
        }
    } else {
        readoutsCleared_ = true;
        view_.ClearReadings();
    }
    const SerialText serial = session_.serial.load();
    if (serial.empty()) {
        return false;
    }
    session_.takeBus();
    if (!link_.openBySerial(serial.c_str())) {
        session_.serial.clearIf(serial);
        session_.releaseBus();
        return false;
    }
    lastStatusTick_ = clock_.tickMs() - kBackdateMs;
    session_.releaseBus();
    lastOpened_ = session_.addressed();
    report(WorkerEvent{WorkerEventKind::Opened}, lastOpened_);
    return true;
}

bool PollWorker::refreshStatus() {
    if (elapsedSince(lastStatusTick_) <= kStatusIntervalMs || !link_.isOpen()) {
        return true;
    }
    lastStatusTick_ = clock_.tickMs();
    session_.takeBus();
    StatusReply reply;
    const std::int32_t received = session_.QueryStatus(reply);
    const StatusBytes before = session_.previousStatus;
    const bool stop = !stopping() && presentStatus(session_, view_, reply, received, shared_);
    if (statusReplyAccepted(received) && reply[0] >= '0' && reply[0] <= '9') {
        ++statusAnswers_;
    }
    reportStatusChanges(before);
    session_.releaseBus();
    return !stop;
}

void PollWorker::reportStatusChanges(const StatusBytes& before) {
    const StatusBytes& after = session_.previousStatus;
    if (events_ == nullptr || after == before) {
        return;
    }
    for (std::size_t ch = 0; ch < 3; ++ch) {
        const char state = after[kStatePosition + ch];
        const char mode = after[kModePosition + ch];
        if (state != before[kStatePosition + ch] || mode != before[kModePosition + ch]) {
            WorkerEvent event{WorkerEventKind::Status};
            event.channel = static_cast<std::int8_t>(ch);
            event.state = state;
            event.mode = mode;
            report(event, session_.addressed());
        }
    }
}

bool PollWorker::showReadings(const ReadingKind& kind) {
    CommandText query;
    Readings readings;
    const SerialText serial = session_.addressed();
    if (!kind.formatQuery(query, serial) || session_.QueryValues(query.data(), readings) == 0) {
        if (!stopping()) {
            markStale(kind, 0);
        }
        return false;
    }
    WorkerEvent event{kind.event};
    event.count = static_cast<std::uint8_t>(readings.count);
    event.values = readings.values;
    report(event, serial);
    // Only the channels the reply carried: a short reply leaves the others as shown, but stale.
    markStale(kind, readings.count);
    for (int ch = 0; ch < readings.count; ++ch) {
        const std::int32_t value = readings.values[static_cast<std::size_t>(ch)];
        auto& shown = kind.shown[static_cast<std::size_t>(ch)];
        bool& stale = stale_[kind.staleIndex + static_cast<std::size_t>(ch)];
        if (value == shown.load() && !stale) {
            continue;
        }
        shown.store(value);
        stale = false;
        ReadingText text;
        view_.ShowReading(kind.readout(ch), formatReading(text, value));
        // Only a field the status opened for set values: no number stands in a field of a
        // channel that takes none, or whose state is not known yet.
        if (kind.prefillsSetField && session_.status.channelTakesSetValues(ch)) {
            view_.PrefillSetField(ch, text.data());
        }
    }
    return true;
}

void PollWorker::markStale(const ReadingKind& kind, int from) {
    for (int ch = from; ch < 3; ++ch) {
        bool& stale = stale_[kind.staleIndex + static_cast<std::size_t>(ch)];
        // An empty readout has nothing to mark.
        if (!stale && kind.shown[static_cast<std::size_t>(ch)].load() != NO_VALUE) {
            stale = true;
            view_.MarkStale(kind.readout(ch));
        }
    }
}

void PollWorker::countPass(bool failed) {
    if (!failed) {
        failedPolls_ = 0;
        return;
    }
    if (++failedPolls_ <= kFailedPassLimit) {
        return;
    }
    const SerialText serial = session_.addressed();
    giveUp();
    lastEnumTick_ = clock_.tickMs() - kRelistBackdateMs;
    report(WorkerEvent{WorkerEventKind::GivenUp}, serial);
}

void PollWorker::sendSetValues() {
    // A value the window took after the operator chose another supply was not meant for the
    // one still open; the next pass drops it with the connection.
    if (!link_.isOpen() || choiceChanged()) {
        return;
    }
    for (int ch = 0; ch < 3 && !stopping(); ++ch) {
        if (const auto value = shared_.takeSetRequest(ch)) {
            sendSetValue(ch, *value);
        }
    }
}

void PollWorker::sendSetValue(int channel, std::int32_t value) {
    SetOutcome outcome = SetOutcome::ChannelClosed;
    // Only while the latest status says the channel takes a value: one that turned off, went
    // into error or left mode U since the operator confirmed it gets none, and its field shows
    // the channel's state as any closed field does.
    if (session_.status.channelTakesSetValues(channel)) {
        outcome = session_.SendSetCommand(channel, value);
    } else {
        const auto c = static_cast<std::size_t>(channel);
        const char* text = stateText(session_.status.at(kStatePosition + c),
                                     session_.status.at(kModePosition + c));
        view_.SetSetFieldText(channel, text != nullptr ? text : "");
    }
    const bool set = outcome == SetOutcome::Acknowledged;
    WorkerEvent event{set ? WorkerEventKind::Set : WorkerEventKind::SetFailed};
    event.channel = static_cast<std::int8_t>(channel);
    event.outcome = outcome;
    event.values[0] = value;
    report(event, session_.addressed());
    // A stop request that cut the exchange short is no failure to tell: the window is closing.
    if (!set && outcome != SetOutcome::ChannelClosed && !stopping()) {
        view_.ShowSetFailed(channel, setOutcomeText(outcome));
    }
}

void PollWorker::exit() {
    link_.closing.store(true);
    link_.closeDevice();
    shared_.StopRequested.store(false);
    shared_.WorkerRunning.store(false);
    view_.PostCloseRequest();
}

int PollThread(ReadoutView& window, platform::Clock& clock, WorkerEventSink* sink) {
    const platform::FineTimerResolution fineSleeps;  // the passes' and the reader's short sleeps
    DeviceSession* session = ActiveSession.load();
    if (session == nullptr) {
        WorkerRunning.store(false);
        window.PostCloseRequest();
        return 0;
    }
    PollWorker worker(*session, window, clock);
    worker.setEventSink(sink);
    worker.run();
    return 0;
}

}  // namespace pz4
