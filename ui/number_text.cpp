#include "ui/number_text.h"

#include <cctype>
#include <cstdint>
#include <locale>
#include <sstream>
#include <string>

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
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    const char* start = p;
    if (*p == '+' || *p == '-') {
        ++p;
    }
    const char* digitsStart = p;
    while (isDigit(*p)) {
        ++p;
    }
    bool digits = p != digitsStart;
    if (*p == '.') {
        ++p;
        const char* fraction = p;
        while (isDigit(*p)) {
            ++p;
        }
        digits = digits || p != fraction;
    }
    if (!digits) {
        return 0.0;
    }
    // An exponent counts only when digits follow it.
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') {
            ++q;
        }
        if (isDigit(*q)) {
            while (isDigit(*q)) {
                ++q;
            }
            p = q;
        }
    }
    std::istringstream stream{std::string(start, p)};
    stream.imbue(std::locale::classic());
    double value = 0.0;
    stream >> value;
    return stream.fail() ? 0.0 : value;
}

}  // namespace pz4::ui
