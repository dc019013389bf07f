#include "protocol/numeric_reply.h"

#include "protocol/leading_integer.h"

namespace pz4 {
namespace {

bool isTokenChar(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The longest run of token characters from pos; false when it is longer than maxLength.
bool takeToken(std::string_view text, std::size_t& pos, std::size_t maxLength,
               std::string_view& token) {
    const std::size_t start = pos;
    while (pos < text.size() && isTokenChar(text[pos])) {
        ++pos;
    }
    token = text.substr(start, pos - start);
    return token.size() <= maxLength;
}

// After a token only blanks may follow, then a comma or the end.
bool atSeparator(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    return pos == text.size() || text[pos] == ',';
}

// As atoi reads it; a token holds at most nine characters, so the value always fits.
std::int32_t tokenValue(std::string_view token) {
    return static_cast<std::int32_t>(leadingInteger(token));
}

}  // namespace

bool parseNumericReply(std::string_view text, std::string_view serial, Readings& readings) {
    readings.count = 0;
    std::size_t pos = 0;
    std::string_view leading;
    if (!takeToken(text, pos, kMaxLeadingToken, leading) || !atSeparator(text, pos)) {
        return false;
    }
    while (pos < text.size()) {
        ++pos;  // the comma
        std::string_view value;
        // An empty value is no reading: refusing it beats inventing one.
        if (!takeToken(text, pos, kMaxValueToken, value) || value.empty() ||
            !atSeparator(text, pos)) {
            return false;
        }
        if (leading != serial || readings.count == static_cast<int>(readings.values.size())) {
            return false;
        }
        readings.values[static_cast<std::size_t>(readings.count++)] = tokenValue(value);
    }
    // A reply with no reading answers nothing: an empty line or a bare serial is what a stray
    // line end or a cut reply leaves behind.
    return readings.count > 0;
}

}  // namespace pz4
