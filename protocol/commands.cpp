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
