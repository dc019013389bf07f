// A simulated PZ4 supply: answers the command protocol the way the real one does, with three
// channels whose measured voltage ramps toward the set voltage.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pz4::sim {

// A supply drops an unterminated command that grows longer than this.
inline constexpr std::size_t kMaxCommandBytes = 4096;

struct SimChannel {
    char state = '0';         // '0' off, '1' on, '2' error (any byte may be forced)
    char mode = 'U';          // 'U' voltage control; e.g. 'I' current control
    double setVoltage = 0.0;  // V
    double measuredVoltage = 0.0;
    double loadMegaohm = 10.0;  // current in uA = measured V / load in megaohm + standing
    // The supply's own divider draws a little even at 0 V; it also keeps a channel's current
    // from reading the same number as its voltage, so that a swap shows.
    double standingMicroamps = 0.0;
};

// The serial a command names: the text between "PZ4" and the command letters; nothing when
// the command has no form the supply knows.
std::optional<std::string_view> namedSerial(std::string_view command);
// A set command ("PZ4<serial>S <ch>,<value>").
bool isSetCommand(std::string_view command);
// A command that names a supply other than the one it reached.
inline bool misaddressed(std::string_view command, std::string_view deviceSerial) {
    const auto named = namedSerial(command);
    return named.has_value() && *named != deviceSerial;
}

class SimSupply {
  public:
    explicit SimSupply(std::string serial);

    const std::string& serial() const { return serial_; }

    // One command as received (its text, without the terminating NUL) at time nowMs. Returns
    // the reply bytes including their CR LF, or nothing when the supply stays silent.
    // "PZ4<any>GU" / "GI" / "GSS" / "S <ch>,<value>": replies carry this supply's own serial,
    // whatever serial the command named. Unknown commands get "ERR\r\n".
    std::optional<std::string> handleCommand(std::string_view command, std::uint64_t nowMs);

    // The status text without line end: position 0 the firmware digit, 4..6 the channel
    // states, 12..14 the modes; 30 characters or more, so the reply with CR LF exceeds 30 bytes.
    std::string statusText(std::uint64_t nowMs);

    // Channel state as of nowMs (the ramp advanced to that time).
    SimChannel channel(int ch, std::uint64_t nowMs);
    void setChannel(int ch, char state, char mode);
    void setSetVoltage(int ch, double volts, std::uint64_t nowMs);
    void setMeasuredVoltage(int ch, double volts, std::uint64_t nowMs);
    void setLoad(int ch, double megaohm);
    // Moves the ramps on to nowMs; call it before changing states or rates, so that the time
    // already passed still runs under the old ones.
    void update(std::uint64_t nowMs) { advance(nowMs); }
    // Replaces position 0 of the status text (a letter there stands for old firmware).
    void setFirmwareDigit(char c) { firmwareDigit_ = c; }

    double rampVoltsPerSecond = 100.0;
    // Peak amplitude of a deterministic flicker added to the readings of channels that are on
    // (0: none), in V and uA.
    int noise = 0;

  private:
    void advance(std::uint64_t nowMs);

    std::string serial_;
    std::array<SimChannel, 3> channels_{};
    char firmwareDigit_ = '1';
    std::uint64_t lastUpdateMs_ = 0;
    bool started_ = false;
    std::uint32_t noiseStep_ = 0;
};

}  // namespace pz4::sim
