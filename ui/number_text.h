// Reading a number out of a set field's text, by the classic "C" rules whatever the
// operator's locale.
#pragma once

namespace pz4::ui {

// True when text holds exactly one number and nothing else: base 10 a floating-point number,
// base 16 a signed 32-bit hexadecimal integer (optional "0x"). Leading white space is allowed,
// trailing characters of any kind are not. Any other base gives false.
bool IsValidNumber(const char* text, int base);

// The decimal value of the longest leading part of text that forms a number, 0.0 when there
// is none (the C library's atof, with a '.' decimal point always and no hexadecimal forms).
double leadingDecimalValue(const char* text);

}  // namespace pz4::ui
