// The chosen supply's serial number: a small text value, and the slot through which the window
// and the worker share it so that every reader gets a whole text, old or new, never a mix.
#pragma once

#include <array>
#include <cstring>
#include <mutex>
#include <string_view>

namespace pz4 {

struct SerialText {
    static constexpr std::size_t kSize = 25;  // 24 characters and the NUL
    std::array<char, kSize> bytes{};

    // Keeps at most 24 characters, so a longer text can never overrun a holder of this type.
    static SerialText from(std::string_view text) {
        SerialText s;
        const std::size_t n = text.size() < kSize - 1 ? text.size() : kSize - 1;
        std::memcpy(s.bytes.data(), text.data(), n);
        s.bytes[n] = '\0';
        return s;
    }

    const char* c_str() const { return bytes.data(); }
    std::string_view view() const { return {bytes.data(), strnlen(bytes.data(), kSize - 1)}; }
    bool empty() const { return bytes[0] == '\0'; }
    friend bool operator==(const SerialText& a, const SerialText& b) {
        return a.view() == b.view();
    }
};

class SerialSlot {
  public:
    void store(std::string_view text) {
        const SerialText next = SerialText::from(text);
        std::lock_guard lock(mutex_);
        text_ = next;
    }

    SerialText load() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

    // Empties the slot only while it still holds expected: a choice the operator made in the
    // meantime is not thrown away.
    bool clearIf(const SerialText& expected) {
        std::lock_guard lock(mutex_);
        if (!(text_ == expected)) {
            return false;
        }
        text_.bytes[0] = '\0';
        return true;
    }

  private:
    // Held only for a 25-byte copy; never around driver calls.
    mutable std::mutex mutex_;
    SerialText text_;
};

}  // namespace pz4
