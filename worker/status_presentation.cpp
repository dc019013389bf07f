#include "worker/status_presentation.h"

#include <cstdio>
#include <utility>

#include "protocol/numeric_reply.h"
#include "worker/channel_tables.h"

namespace pz4 {
namespace {

// Compares as texts: up to the first difference or the NUL of current, so a forgotten previous
// text (no NUL at all) is never read past its end.
bool sameText(const StatusBytes& current, const StatusBytes& previous) {
    for (std::size_t i = 0; i < kStatusSize; ++i) {
        if (current[i] != previous[i]) {
            return false;
        }
        if (current[i] == '\0') {
            return true;
        }
    }
    return true;
}

void copyText(StatusBytes& to, const StatusBytes& from) {
    std::size_t i = 0;
    for (; i < kStatusSize - 1 && from[i] != '\0'; ++i) {
        to[i] = from[i];
    }
    to[i] = '\0';
}

}  // namespace

const char* stateWord(char state) {
    switch (state) {
        case '0':
            return "off";
        case '1':
            return "on";
        case '2':
            return "error";
        default:
            return nullptr;
    }
}

const char* stateText(char state, char mode) {
    return takesSetValues(state, mode) ? "" : stateWord(state);
}

bool presentStatus(DeviceSession& session, ReadoutView& view, const StatusReply& reply,
                   std::int32_t received, WorkerShared& shared) {
    if (!statusReplyAccepted(received)) {
        // A short line is no status reply: the line is out of step until it has settled.
        if (received > 0) {
            session.link->markOutOfStep();
        }
        return false;
    }
    // One garbled reply (a burst of noise, a numeric reply out of step) is no verdict on the
    // firmware, which would fail the same way every time: it changes nothing.
    if (reply[0] < '0' || reply[0] > '9') {
        if (!std::exchange(session.statusDigitMissing, true)) {
            // Whatever it was, the line is out of step until it has settled again.
            session.link->markOutOfStep();
            return false;
        }
        std::array<char, 160> message;
        std::snprintf(message.data(), message.size(),
                      "Communication error with PZ4 %s.\nMake sure that firmware\n"
                      "2.13 or higher is installed.",
                      session.addressed().c_str());
        view.ShowError(message.data());
        shared.StopRequested.store(true);
        return true;
    }
    session.statusDigitMissing = false;
    session.status.copyText(reply.data());
    const StatusBytes current = session.status.snapshot();
    StatusBytes& previous = session.previousStatus;
    if (sameText(current, previous)) {
        return false;
    }

    for (std::size_t ch = 0; ch < 3; ++ch) {
        const std::size_t p = kStatePosition + ch;
        if (current[p] != previous[p]) {
            if (const char* text = stateText(current[p], current[kModePosition + ch])) {
                view.SetSetFieldText(static_cast<int>(ch), text);
            }
        }
    }
    for (std::size_t ch = 0; ch < 3; ++ch) {
        const std::size_t p = kStatePosition + ch;
        const std::size_t m = kModePosition + ch;
        if (current[m] == previous[m] && current[p] == previous[p]) {
            continue;
        }
        if (takesSetValues(current[p], current[m])) {
            view.SetSetFieldReadOnly(static_cast<int>(ch), false);
            shared.VoltageShown[ch].store(FORCE_REFRESH);
        } else {
            view.SetSetFieldReadOnly(static_cast<int>(ch), true);
        }
    }
    copyText(previous, current);
    return false;
}

}  // namespace pz4
