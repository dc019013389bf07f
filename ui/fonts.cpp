#include "ui/fonts.h"

#include <QFontMetrics>
#include <cmath>

namespace pz4::ui {

QFont fontWithCellHeight(const char* face, int cellHeight) {
    QFont font(QString::fromLatin1(face));
    font.setWeight(QFont::Normal);
    // Asked for a fixed-pitch modern face when the named one is missing.
    font.setStyleHint(QFont::TypeWriter);
    // Qt sizes by the em; scale until the cell has the asked height.
    int pixels = cellHeight;
    for (int attempt = 0; attempt < 3; ++attempt) {
        font.setPixelSize(pixels);
        const int cell = QFontMetrics(font).height();
        if (cell == cellHeight || cell <= 0) {
            break;
        }
        pixels = std::max(
            1, static_cast<int>(std::lround(static_cast<double>(pixels) * cellHeight / cell)));
    }
    return font;
}

const QFont& ReadoutFont() {
    static const QFont font = fontWithCellHeight("ARIAL", 40);
    return font;
}

const QFont& SetFieldFont() {
    static const QFont font = fontWithCellHeight("ARIAL", 25);
    return font;
}

}  // namespace pz4::ui
