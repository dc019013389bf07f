// Draws one trace of a plot (history/trace.h): each point's spread from its minimum to its
// maximum, joined to the point before unless a gap lies between them.
#pragma once

#include <QColor>
#include <QRect>
#include <vector>

#include "history/trace.h"
#include "ui/plot_scale.h"

class QPainter;

namespace pz4::ui {

// left: the x of column 0; area: the plot the trace is drawn in, on scale.
void drawTrace(QPainter& painter, int left, const std::vector<TracePoint>& points,
               const Scale& scale, const QRect& area, const QColor& color);

}  // namespace pz4::ui
