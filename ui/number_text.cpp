#include "ui/number_text.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <locale>
#include <sstream>
#include <string>
#include <string_view>

namespace pz4::ui {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool IsValidNumber(const char* text, int base) {
    std::istringstream stream{std::string(text)};
    stream.imbue(std::locale::classic());
    if (base == 10) {
        double value = 0;
        stream >> value;
    } else if (base == 16) {
        std::int32_t value = 0;
        stream >> std::hex >> value;
    } else {
        return false;
    }
    return !stream.fail() && stream.rdbuf()->in_avail() == 0;
}

double leadingDecimalValue(const char* text) {
    std::string_view rest(text);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) {
        rest.remove_prefix(1);
    }
    // from_chars takes no plus sign; atof does.
    if (rest.starts_with('+')) {
        rest.remove_prefix(1);
        if (rest.starts_with('-')) {
            return 0.0;
        }
    }
    // Decimal forms only: a digit, or a point and a digit, after an optional minus sign (no
    // hexadecimal, infinity or NaN, which from_chars would take).
    const std::string_view number = rest.starts_with('-') ? rest.substr(1) : rest;
    const bool digitFirst = !number.empty() && isDigit(number.front());
    const bool pointFirst = number.size() > 1 && number[0] == '.' && isDigit(number[1]);
    if (!digitFirst && !pointFirst) {
        return 0.0;
    }
    double value = 0.0;
    // A result out of range is no number, as the stream extraction had it.
    const auto result =
        std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    return result.ec == std::errc{} ? value : 0.0;
}

}  // namespace pz4::ui
