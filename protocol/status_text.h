// The 64-byte status texts of the session. The worker writes the current one while the window
// reads single positions of it, so each byte is an atomic of its own.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace pz4 {

inline constexpr std::size_t kStatusSize = 64;  // at most 63 characters and the NUL
using StatusBytes = std::array<char, kStatusSize>;

// Where a channel's state ('0' off, '1' on, '2' error) and control mode stand in the text.
inline constexpr std::size_t kStatePosition = 4;
inline constexpr std::size_t kModePosition = 12;

// A channel that is on and in voltage control takes set voltages from the operator.
inline bool takesSetValues(char state, char mode) {
    return state == '1' && mode == 'U';
}

// Byte 0 NUL and the rest 0xFF: differs in every interpreted position from any real reply.
constexpr StatusBytes initialStatusBytes() {
    StatusBytes b{};
    for (std::size_t i = 1; i < kStatusSize; ++i) {
        b[i] = static_cast<char>(0xFF);
    }
    return b;
}

class SharedStatusText {
  public:
    SharedStatusText() { assign(initialStatusBytes()); }

    char at(std::size_t i) const { return bytes_[i].load(std::memory_order_relaxed); }

    // By this status; never before the first accepted reply, whose bytes are still 0xFF.
    bool channelTakesSetValues(int channel) const {
        const auto c = static_cast<std::size_t>(channel);
        return takesSetValues(at(kStatePosition + c), at(kModePosition + c));
    }

    void assign(const StatusBytes& from) {
        for (std::size_t i = 0; i < kStatusSize; ++i) {
            bytes_[i].store(from[i], std::memory_order_relaxed);
        }
    }

    // Copies a text of at most 63 characters and its NUL; the bytes behind the NUL keep what
    // earlier, longer texts left there. Longer texts are cut at 63 characters.
    void copyText(const char* text) {
        std::size_t i = 0;
        for (; i < kStatusSize - 1 && text[i] != '\0'; ++i) {
            bytes_[i].store(text[i], std::memory_order_relaxed);
        }
        bytes_[i].store('\0', std::memory_order_relaxed);
    }

    StatusBytes snapshot() const {
        StatusBytes b;
        for (std::size_t i = 0; i < kStatusSize; ++i) {
            b[i] = at(i);
        }
        return b;
    }

  private:
    std::array<std::atomic<char>, kStatusSize> bytes_;
};

}  // namespace pz4
