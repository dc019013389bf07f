// The two fonts of the main window's readouts and set fields.
#pragma once

#include <QFont>

namespace pz4::ui {

// A font whose character cell (ascent plus descent, internal leading included) is cellHeight
// pixels tall: what a positive height asks of the Windows font mapper.
QFont fontWithCellHeight(const char* face, int cellHeight);

// Created once, on first use, and kept for the life of the process.
const QFont& ReadoutFont();   // cell height 40
const QFont& SetFieldFont();  // cell height 25

}  // namespace pz4::ui
