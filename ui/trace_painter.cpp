#include "ui/trace_painter.h"

#include <QLineF>
#include <QPainter>
#include <QVector>
#include <algorithm>
#include <cmath>

namespace pz4::ui {

TraceCanvas::TraceCanvas(const QRect& plot, QImage& storage) : plot_(plot), image_(storage) {
    if (image_.size() != plot.size()) {
        image_ = QImage(plot.size(), QImage::Format_ARGB32_Premultiplied);
    }
    image_.fill(Qt::transparent);
    bits_ = image_.bits();
}

void TraceCanvas::fill(int x, int top, int bottom, QRgb color) {
    if (x < 0 || x >= image_.width()) {
        return;
    }
    top = std::max(top, 0);
    bottom = std::min(bottom, image_.height() - 1);
    const qsizetype stride = image_.bytesPerLine();
    for (int y = top; y <= bottom; ++y) {
        reinterpret_cast<QRgb*>(bits_ + y * stride)[x] = color;
    }
}

void TraceCanvas::draw(const std::vector<TracePoint>& points, const Scale& scale,
                       const QColor& color) {
    const QRect area(QPoint(0, 0), plot_.size());
    const auto y = [&](double v) { return scale.y(v, area); };
    const auto row = [&](double v) { return static_cast<int>(std::lround(y(v))); };
    const QRgb rgb = qPremultiply(color.rgba());
    QVector<QLineF> lines;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TracePoint& p = points[i];
        const bool joinedBefore = i > 0 && !p.gapBefore;
        const bool joinedAfter = i + 1 < points.size() && !points[i + 1].gapBefore;
        int top = row(p.max);
        int bottom = row(p.min);
        if (joinedBefore && p.column - points[i - 1].column == 1) {
            // Neighbours: the column reaches to the last value before it, so the step shows.
            const int last = row(points[i - 1].last);
            top = std::min(top, last);
            bottom = std::max(bottom, last);
        } else if (joinedBefore) {
            const TracePoint& q = points[i - 1];
            lines.append(QLineF(q.column + 0.5, y(q.last), p.column + 0.5, y(p.first)));
        }
        fill(p.column, top, bottom, rgb);
        // A reading alone between gaps is three pixels wide, so that it shows.
        if (!joinedBefore && !joinedAfter && top == bottom) {
            fill(p.column - 1, top, bottom, rgb);
            fill(p.column + 1, top, bottom, rgb);
        }
    }
    if (!lines.isEmpty()) {
        QPainter painter(&image_);
        painter.setPen(QPen(color, 1));
        painter.drawLines(lines);
        painter.end();
        bits_ = image_.bits();
    }
}

void TraceCanvas::paintOn(QPainter& painter) const {
    painter.drawImage(plot_.topLeft(), image_);
}

}  // namespace pz4::ui
