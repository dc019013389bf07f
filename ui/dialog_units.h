// Dialog units to pixels, as the Windows dialog manager converts them: horizontally by a
// quarter, vertically by an eighth of the dialog font's base units.
#pragma once

#include <QFont>
#include <QRect>

namespace pz4::ui {

struct DialogUnits {
    int baseX;  // average character width of the dialog font
    int baseY;  // its character cell height

    static DialogUnits of(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect map(int x, int y, int width, int height) const;
};

}  // namespace pz4::ui
