// Reading the decimal integer at the start of a text the way the C library's atoi does, but
// locale-free and without overflow.
#pragma once

#include <cctype>
#include <charconv>
#include <limits>
#include <string_view>

namespace pz4 {

// Leading white space, an optional sign, then digits up to the first non-digit; 0 when no digit
// follows the sign. A value beyond the range saturates.
inline long long leadingInteger(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) {
        text.remove_prefix(1);
    }
    // from_chars would take a second sign; atoi does not.
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return 0;
    }
    long long value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec ==
        std::errc::result_out_of_range) {
        value = std::numeric_limits<long long>::max();
    }
    return negative ? -value : value;
}

}  // namespace pz4
