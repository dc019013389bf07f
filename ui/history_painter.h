// Draws a plot frame (history/plot_frame.h) with QPainter: per channel a plot with the voltage
// on the left scale and the current on the right, the set values in force as a step line, the
// failed ones as crosses, the spans where the channel was off, in error or in mode I shaded,
// and the turns of the connection as vertical lines across all three; time runs along the
// bottom in local time. A gap in the readings stays open: no line crosses it.
#pragma once

#include <QImage>
#include <QRect>
#include <array>

#include "history/plot_frame.h"

class QPainter;

namespace pz4::ui {

// Where the three plots lie in an area; the frame is built with one column per pixel of
// columns().
struct PlotLayout {
    QRect area;
    std::array<QRect, 3> plots;

    static PlotLayout of(const QRect& area);
    int columns() const { return plots[0].width(); }
    int left() const { return plots[0].left(); }
};

// Images the drawing keeps from one repaint to the next, so that a repaint allocates nothing.
struct PlotBuffers {
    std::array<QImage, 3> traces;
};

// hoverColumn: the column under the mouse, marked with a line; -1 for none.
void drawHistory(QPainter& painter, const PlotLayout& layout, const PlotFrame& frame,
                 PlotBuffers& buffers, int hoverColumn = -1);

}  // namespace pz4::ui
