#include "protocol/commands.h"

#include <cstdio>

namespace pz4 {
namespace {

// snprintf reports the length it wanted; anything that did not fit whole is a refusal.
bool fits(int wanted, CommandText& out) {
    if (wanted < 0 || static_cast<std::size_t>(wanted) >= out.size()) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace

const char* setOutcomeText(SetOutcome outcome) {
    switch (outcome) {
        case SetOutcome::Acknowledged:
            return "set";
        case SetOutcome::NotFormed:
            return "not set: the value cannot be sent to this supply";
        case SetOutcome::NotSent:
            return "not set: the command could not be sent";
        case SetOutcome::NotAcknowledged:
            return "not set: the supply did not acknowledge it";
        case SetOutcome::ChannelClosed:
            return "not set: the channel takes no set value now";
    }
    return "not set";
}

bool formatSetCommand(CommandText& out, const SerialText& serial, std::int32_t channel,
                      std::int32_t value) {
    return fits(std::snprintf(out.data(), out.size(), "PZ4%sS %i,%i", serial.c_str(),
                              static_cast<int>(channel), static_cast<int>(value)),
                out);
}

bool formatVoltageQuery(CommandText& out, const SerialText& serial) {
    return fits(std::snprintf(out.data(), out.size(), "PZ4%sGU", serial.c_str()), out);
}

bool formatCurrentQuery(CommandText& out, const SerialText& serial) {
    return fits(std::snprintf(out.data(), out.size(), "PZ4%sGI", serial.c_str()), out);
}

bool formatAcknowledgement(CommandText& out, const SerialText& serial) {
    return fits(std::snprintf(out.data(), out.size(), "%s,ok", serial.c_str()), out);
}

}  // namespace pz4
