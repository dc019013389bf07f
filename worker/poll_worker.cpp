#include "worker/poll_worker.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/timer_resolution.h"
#include "protocol/commands.h"
#include "worker/channel_tables.h"
#include "worker/status_presentation.h"

namespace pz4 {
namespace {

constexpr std::uint32_t kPauseMs = 200;
constexpr std::uint32_t kIdlePauseMs = 500;
constexpr std::uint64_t kListIntervalClosedMs = 1000;
constexpr std::uint64_t kListIntervalOpenMs = 3000;
constexpr std::uint64_t kStatusIntervalMs = 3100;
constexpr std::uint64_t kBackdateMs = 10000;
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
    bool prefillsSetField;
};

PollWorker::PollWorker(DeviceSession& session, ReadoutView& view, platform::Clock& clock)
    : session_(session), link_(*session.link), view_(view), clock_(clock) {}

void PollWorker::start() {
    WorkerRunning.store(true);
    StopRequested.store(false);
    failedPolls_ = 0;
    readoutsCleared_ = false;
    seenChoice_ = session_.supplyChoice.load();
    lastEnumTick_ = clock_.tickMs() - kBackdateMs;
    lastStatusTick_ = clock_.tickMs() - kBackdateMs;
}

void PollWorker::run() {
    start();
    if (!StopRequested.load()) {
        while (runPass()) {
        }
    }
    exit();
}

bool PollWorker::runPass() {
    // One wait that a stop request ends at once.
    if (clock_.waitMs(kPauseMs, StopRequested)) {
        return false;
    }
    session_.waitBusFree();
    // Before any exchange: nothing more goes to, or comes from, a supply the operator left.
    if (choiceChanged()) {
        seenChoice_ = session_.supplyChoice.load();
        giveUp();
        openAtOnce_ = true;
    }
    listIfDue();
    if (connect() && refreshStatus()) {
        static const ReadingKind voltages{formatVoltageQuery, VoltageShown, voltageReadout, true};
        static const ReadingKind currents{formatCurrentQuery, CurrentShown, currentReadout, false};
        const bool voltagesOk = showReadings(voltages);
        const bool currentsOk = showReadings(currents);
        countPass(!voltagesOk || !currentsOk);
        sendSetValues();
    }
    return !StopRequested.load();
}

void PollWorker::giveUp() {
    failedPolls_ = 0;
    link_.closeDevice();
    // First the status goes, so that the window takes no new value; once the window has carried
    // out the operations below, every value it took before is in SetRequest to be dropped.
    session_.resetStatus();
    session_.ForgetPreviousStatus();
    view_.ClearReadings();
    fillSlots(VoltageShown, NO_VALUE);
    fillSlots(CurrentShown, NO_VALUE);
    // No number stands in a set field that was never sent; the next status reply sets them up
    // as at any first reply.
    for (int ch = 0; ch < 3; ++ch) {
        view_.SetSetFieldText(ch, "");
        view_.SetSetFieldReadOnly(ch, true);
    }
    fillSlots(SetRequest, NO_VALUE);
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
        if (clock_.waitMs(kIdlePauseMs, StopRequested)) {
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
    const bool stop = presentStatus(session_, view_, reply, received);
    session_.releaseBus();
    return !stop;
}

bool PollWorker::showReadings(const ReadingKind& kind) {
    CommandText query;
    Readings readings;
    if (!kind.formatQuery(query, session_.addressed()) ||
        session_.QueryValues(query.data(), readings) == 0) {
        return false;
    }
    // Only the channels the reply carried: a short reply leaves the others as shown.
    for (int ch = 0; ch < readings.count; ++ch) {
        const std::int32_t value = readings.values[static_cast<std::size_t>(ch)];
        auto& shown = kind.shown[static_cast<std::size_t>(ch)];
        if (value == shown.load()) {
            continue;
        }
        shown.store(value);
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

void PollWorker::countPass(bool failed) {
    if (!failed) {
        failedPolls_ = 0;
        return;
    }
    if (++failedPolls_ <= kFailedPassLimit) {
        return;
    }
    giveUp();
    lastEnumTick_ = clock_.tickMs() - kRelistBackdateMs;
}

void PollWorker::sendSetValues() {
    // A value the window took after the operator chose another supply was not meant for the
    // one still open; the next pass drops it with the connection.
    if (!link_.isOpen() || choiceChanged()) {
        return;
    }
    for (int ch = 0; ch < 3; ++ch) {
        if (const auto value = takeSetRequest(ch)) {
            session_.SendSetCommand(ch, *value);
        }
    }
}

void PollWorker::exit() {
    link_.closing.store(true);
    link_.closeDevice();
    StopRequested.store(false);
    WorkerRunning.store(false);
    view_.PostCloseRequest();
}

int PollThread(ReadoutView& window, platform::Clock& clock) {
    const platform::FineTimerResolution fineSleeps;  // the passes' and the reader's short sleeps
    DeviceSession* session = ActiveSession.load();
    if (session == nullptr) {
        WorkerRunning.store(false);
        window.PostCloseRequest();
        return 0;
    }
    PollWorker(*session, window, clock).run();
    return 0;
}

}  // namespace pz4
