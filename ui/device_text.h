// Texts from and for the device are bytes; Latin-1 maps each byte to one character and back,
// so a serial number survives the round trip through the window unchanged.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace pz4::ui {

inline QString fromDevice(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string toDevice(const QString& text) {
    return text.toLatin1().toStdString();
}

}  // namespace pz4::ui
