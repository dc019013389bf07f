#include "ui/trace_painter.h"

#include <QLineF>
#include <QPainter>
#include <QPolygon>
#include <QVector>
#include <algorithm>
#include <cmath>

namespace pz4::ui {
namespace {

double columnX(int left, int column) {
    return left + column + 0.5;
}

// One column of a trace as pixel rows: top and bottom included.
struct Bar {
    int x;
    int top;
    int bottom;
};

// Bars in neighbouring columns as one staircase polygon: filled row by row, it costs little even
// where a noisy reading on a close scale covers the whole plot.
void fillBars(QPainter& painter, const std::vector<Bar>& bars) {
    if (bars.empty()) {
        return;
    }
    QPolygon outline;
    outline.reserve(static_cast<qsizetype>(bars.size() * 4));
    for (const Bar& b : bars) {
        outline << QPoint(b.x, b.top) << QPoint(b.x + 1, b.top);
    }
    for (auto b = bars.rbegin(); b != bars.rend(); ++b) {
        outline << QPoint(b->x + 1, b->bottom + 1) << QPoint(b->x, b->bottom + 1);
    }
    painter.drawPolygon(outline, Qt::WindingFill);
}

// Each point's spread from its minimum to its maximum, joined to the point before (its last
// value to this one's first) unless a gap lies between them.
}  // namespace

void drawTrace(QPainter& painter, int left, const std::vector<TracePoint>& points,
               const Scale& scale, const QRect& r, const QColor& color) {
    QVector<QLineF> lines;
    std::vector<std::vector<Bar>> runs(1);
    const auto rowOf = [&](double v) { return static_cast<int>(std::lround(scale.y(v, r))); };
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TracePoint& p = points[i];
        const bool joinedBefore = i > 0 && !p.gapBefore;
        const bool joinedAfter = i + 1 < points.size() && !points[i + 1].gapBefore;
        Bar bar{left + p.column, rowOf(p.max), rowOf(p.min)};
        const bool neighbour = joinedBefore && p.column - points[i - 1].column == 1;
        if (neighbour) {
            // The bar reaches to the last value before it, so the step between them shows.
            const int last = rowOf(points[i - 1].last);
            bar.top = std::min(bar.top, last);
            bar.bottom = std::max(bar.bottom, last);
        } else {
            if (joinedBefore) {
                const TracePoint& q = points[i - 1];
                lines.append(QLineF(columnX(left, q.column), scale.y(q.last, r),
                                    columnX(left, p.column), scale.y(p.first, r)));
            }
            if (!runs.back().empty()) {
                runs.emplace_back();
            }
        }
        // A reading alone between gaps is drawn three pixels wide, so that it shows.
        const bool alone = !joinedBefore && !joinedAfter && bar.top == bar.bottom;
        if (alone) {
            runs.back().push_back({bar.x - 1, bar.top, bar.bottom});
        }
        runs.back().push_back(bar);
        if (alone) {
            runs.back().push_back({bar.x + 1, bar.top, bar.bottom});
        }
    }
    painter.setPen(QPen(color, 1));
    painter.drawLines(lines);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    for (const auto& run : runs) {
        fillBars(painter, run);
    }
    painter.setBrush(Qt::NoBrush);
}

}  // namespace pz4::ui
