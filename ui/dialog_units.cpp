#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <cmath>

namespace pz4::ui {
namespace {

// MulDiv: the product over the divisor, rounded half away from zero.
int mulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

}  // namespace

DialogUnits DialogUnits::of(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the 52 letters, rounded the way Windows rounds it.
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return DialogUnits{(letters / 26 + 1) / 2, metrics.height()};
}

int DialogUnits::x(int units) const {
    return mulDiv(units, baseX, 4);
}
int DialogUnits::y(int units) const {
    return mulDiv(units, baseY, 8);
}

QRect DialogUnits::map(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

}  // namespace pz4::ui
