// Draws the traces of a plot (history/trace.h): each point's spread from its minimum to its
// maximum, joined to the point before unless a gap lies between them. The spreads are set pixel
// by pixel into an image of the plot's size, which goes onto the plot in one step: a noisy
// reading fills whole columns, and a polygon or a line per column would cost the rasteriser
// many times as much.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <vector>

#include "history/trace.h"
#include "ui/plot_scale.h"

class QPainter;

namespace pz4::ui {

class TraceCanvas {
  public:
    // plot: where the canvas goes; its columns are the traces' columns. storage: an image kept
    // for the next repaint, made the plot's size.
    TraceCanvas(const QRect& plot, QImage& storage);

    void draw(const std::vector<TracePoint>& points, const Scale& scale, const QColor& color);
    void paintOn(QPainter& painter) const;

  private:
    // Rows top to bottom of column x, both included and clipped to the canvas.
    void fill(int x, int top, int bottom, QRgb color);

    QRect plot_;
    QImage& image_;
    uchar* bits_ = nullptr;
};

}  // namespace pz4::ui
