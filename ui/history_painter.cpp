#include "ui/history_painter.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLineF>
#include <QPainter>
#include <QRegion>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <optional>

#include "ui/plot_scale.h"
#include "ui/trace_painter.h"

namespace pz4::ui {
namespace {

constexpr int kScaleWidth = 64;  // room for the labels of each scale
constexpr int kTimeAxisHeight = 20;
constexpr int kTop = 4;
constexpr int kPlotGap = 18;

const QColor kVoltageColor(0, 80, 200);
const QColor kCurrentColor(215, 100, 0);
const QColor kSetColor(0, 140, 60);
const QColor kFailedColor(210, 0, 0);
const QColor kMarkerColor(120, 0, 160);
const QColor kGridColor(225, 225, 225);

struct Extent {
    std::optional<double> lo;
    std::optional<double> hi;

    void take(double v) {
        lo = lo ? std::min(*lo, v) : v;
        hi = hi ? std::max(*hi, v) : v;
    }
    void take(const std::vector<TracePoint>& points, int columns) {
        for (const TracePoint& p : points) {
            if (p.column >= 0 && p.column < columns) {
                take(p.min);
                take(p.max);
            }
        }
    }
};

double timeX(const PlotLayout& layout, const PlotFrame& frame, std::int64_t t) {
    return layout.left() + static_cast<double>(t - frame.range.fromMs) * frame.columns /
                               static_cast<double>(std::max<std::int64_t>(frame.range.span(), 1));
}

// The shading of a channel's state: off, in error, or on in mode I.
// Opaque, on the plot's white: a translucent fill of a tall plot is the one drawing that Qt
// hands to threads of its own, which the thread sanitizer cannot follow.
std::optional<QColor> shadeOf(const StatusSpan& span) {
    switch (span.state) {
        case '0':
            return QColor(231, 231, 231);
        case '2':
            return QColor(251, 210, 210);
        case '1':
            if (span.mode == 'I') {
                return QColor(255, 240, 195);
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

void drawScales(QPainter& painter, const QRect& r, const Scale& volts, const Scale& micro) {
    const QFontMetrics metrics(painter.font());
    painter.setPen(kGridColor);
    for (double v = volts.lo; v <= volts.hi + volts.step / 2; v += volts.step) {
        const double y = volts.y(v, r);
        painter.drawLine(QLineF(r.left(), y, r.right(), y));
    }
    const auto label = [&](double v, const Scale& s, double x, Qt::Alignment side,
                           const QColor& color, const char* unit) {
        painter.setPen(color);
        painter.drawText(
            QRectF(x, s.y(v, r) - metrics.height() / 2.0, kScaleWidth - 4, metrics.height()),
            side | Qt::AlignVCenter,
            QString::number(v, 'f', 0) + QLatin1Char(' ') + QLatin1String(unit));
    };
    for (double v = volts.lo; v <= volts.hi + volts.step / 2; v += volts.step) {
        label(v, volts, r.left() - kScaleWidth, Qt::AlignRight, kVoltageColor, "V");
    }
    for (double v = micro.lo; v <= micro.hi + micro.step / 2; v += micro.step) {
        label(v, micro, r.right() + 4, Qt::AlignLeft, kCurrentColor, "uA");
    }
}

void drawSets(QPainter& painter, const PlotLayout& layout, const PlotFrame& frame,
              const ChannelFrame& c, const Scale& volts, const QRect& r) {
    QVector<QLineF> lines;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const SetStep& s = c.steps[i];
        const double y = volts.y(s.value, r);
        lines.append(QLineF(timeX(layout, frame, s.fromMs), y, timeX(layout, frame, s.toMs), y));
        if (i > 0 && c.steps[i - 1].toMs == s.fromMs) {
            const double x = timeX(layout, frame, s.fromMs);
            lines.append(QLineF(x, volts.y(c.steps[i - 1].value, r), x, y));
        }
    }
    painter.setPen(QPen(kSetColor, 2, Qt::DashLine));
    painter.drawLines(lines);
    painter.setPen(QPen(kFailedColor, 2));
    for (const FailedSet& f : c.failed) {
        const double x = timeX(layout, frame, f.wallMs);
        const double y =
            std::clamp(volts.y(f.value, r), double(r.top() + 3), double(r.bottom() - 3));
        painter.drawLine(QLineF(x - 3, y - 3, x + 3, y + 3));
        painter.drawLine(QLineF(x - 3, y + 3, x + 3, y - 3));
    }
}

void drawChannel(QPainter& painter, const PlotLayout& layout, const PlotFrame& frame,
                 const std::vector<std::int64_t>& ticks, QImage& buffer, int channel) {
    const QRect& r = layout.plots[static_cast<std::size_t>(channel)];
    const ChannelFrame& c = frame.channels[static_cast<std::size_t>(channel)];
    painter.fillRect(r, Qt::white);
    for (const StatusSpan& span : c.status) {
        if (const auto shade = shadeOf(span)) {
            const double from = std::max<double>(timeX(layout, frame, span.fromMs), r.left());
            const double to = std::min<double>(timeX(layout, frame, span.toMs), r.right() + 1);
            painter.fillRect(QRectF(from, r.top(), to - from, r.height()), *shade);
        }
    }
    Extent volts;
    volts.take(c.voltage, frame.columns);
    for (const SetStep& s : c.steps) {
        volts.take(s.value);
    }
    Extent micro;
    micro.take(c.current, frame.columns);
    const Scale voltScale = scaleOf(volts.lo, volts.hi);
    const Scale microScale = scaleOf(micro.lo, micro.hi);
    painter.setPen(kGridColor);
    for (const std::int64_t t : ticks) {
        const double x = timeX(layout, frame, t);
        painter.drawLine(QLineF(x, r.top() + 1, x, r.bottom() - 1));
    }
    drawScales(painter, r, voltScale, microScale);

    painter.save();
    painter.setClipRect(r);
    TraceCanvas traces(r, buffer);
    traces.draw(c.current, microScale, kCurrentColor);
    traces.draw(c.voltage, voltScale, kVoltageColor);
    traces.paintOn(painter);
    // On top: a supply that follows its set value hides the trace under it otherwise.
    drawSets(painter, layout, frame, c, voltScale, r);
    painter.restore();

    painter.setPen(Qt::black);
    painter.drawText(r.adjusted(6, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("Ch %1").arg(channel + 1));
    painter.setPen(QColor(160, 160, 160));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
}

// Steps for the time labels: round to the eye in local time.
std::int64_t timeStep(std::int64_t spanMs, int columns) {
    static constexpr std::int64_t kSteps[] = {
        1'000,     2'000,     5'000,      10'000,     15'000,     30'000,
        60'000,    120'000,   300'000,    600'000,    900'000,    1'800'000,
        3'600'000, 7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000};
    const std::int64_t labels = std::max(columns / 90, 1);
    for (const std::int64_t step : kSteps) {
        if (spanMs / step <= labels) {
            return step;
        }
    }
    return 86'400'000 * ((spanMs / 86'400'000) / labels + 1);
}

struct TimeTicks {
    std::vector<std::int64_t> at;
    QString format;
};

// Round times in local time, about one per 90 pixels.
TimeTicks timeTicks(const PlotFrame& frame) {
    const std::int64_t step = timeStep(frame.range.span(), frame.columns);
    const std::int64_t offset =
        QDateTime::fromMSecsSinceEpoch(frame.range.fromMs).offsetFromUtc() * 1000LL;
    TimeTicks ticks;
    ticks.format = step < 60'000                     ? QStringLiteral("HH:mm:ss")
                   : frame.range.span() < 86'400'000 ? QStringLiteral("HH:mm")
                                                     : QStringLiteral("ddd HH:mm");
    const std::int64_t local = frame.range.fromMs + offset;
    const std::int64_t first = (local / step + (local % step > 0 ? 1 : 0)) * step - offset;
    for (std::int64_t t = first; t < frame.range.toMs; t += step) {
        ticks.at.push_back(t);
    }
    return ticks;
}

void drawTimeLabels(QPainter& painter, const PlotLayout& layout, const PlotFrame& frame,
                    const TimeTicks& ticks) {
    const QRect& bottom = layout.plots[2];
    painter.setPen(Qt::black);
    for (const std::int64_t t : ticks.at) {
        const double x = timeX(layout, frame, t);
        painter.drawText(QRectF(x - 60, bottom.bottom() + 3, 120, kTimeAxisHeight - 3),
                         Qt::AlignHCenter | Qt::AlignTop,
                         QDateTime::fromMSecsSinceEpoch(t).toString(ticks.format));
    }
}

QString markerText(const Marker& m) {
    switch (m.kind) {
        case MarkerKind::Chosen:
            return QStringLiteral("chose %1").arg(QString::fromLatin1(m.serial.c_str()));
        case MarkerKind::GivenUp:
            return QStringLiteral("given up");
        case MarkerKind::Unplugged:
            return QStringLiteral("unplugged");
        case MarkerKind::Lost:
            return QStringLiteral("%1 events lost").arg(m.lost);
        case MarkerKind::Opened:
            break;
    }
    return {};
}

void drawMarkers(QPainter& painter, const PlotLayout& layout, const PlotFrame& frame) {
    const QRect all(layout.plots[0].topLeft(), layout.plots[2].bottomRight());
    const QFontMetrics metrics(painter.font());
    // Where the labels of each row end so far: a label goes to the first row it fits in.
    std::array<double, 3> rowEnds;
    rowEnds.fill(-1e9);
    for (const Marker& m : frame.markers) {
        const double x = timeX(layout, frame, m.wallMs);
        painter.setPen(QPen(kMarkerColor, 1, Qt::DashLine));
        painter.drawLine(QLineF(x, all.top(), x, all.bottom()));
        // The text on the side of the line that has room for it.
        const QString text = markerText(m);
        const double width = metrics.horizontalAdvance(text) + 6;
        const double left = x + width > all.right() ? x - width : x + 3;
        std::size_t row = 0;
        while (row + 1 < rowEnds.size() && rowEnds[row] > left) {
            ++row;
        }
        rowEnds[row] = left + width;
        painter.setPen(kMarkerColor);
        painter.drawText(QRectF(left, all.top() + 18 + static_cast<double>(row) * metrics.height(),
                                width, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, text);
    }
}

void drawLegend(QPainter& painter, const QRect& r) {
    const QFontMetrics metrics(painter.font());
    const struct {
        const char* text;
        QColor color;
        Qt::PenStyle style;
    } entries[] = {{"voltage", kVoltageColor, Qt::SolidLine},
                   {"current", kCurrentColor, Qt::SolidLine},
                   {"set", kSetColor, Qt::DashLine}};
    int x = r.right() - 8;
    for (auto e = std::rbegin(entries); e != std::rend(entries); ++e) {
        const QString text = QString::fromLatin1(e->text);
        x -= metrics.horizontalAdvance(text);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(x, r.top() + 2 + metrics.ascent()), text);
        x -= 22;
        painter.setPen(QPen(e->color, 2, e->style));
        painter.drawLine(x, r.top() + 2 + metrics.height() / 2, x + 16,
                         r.top() + 2 + metrics.height() / 2);
        x -= 12;
    }
}

}  // namespace

PlotLayout PlotLayout::of(const QRect& area) {
    PlotLayout layout;
    layout.area = area;
    const int left = area.left() + kScaleWidth;
    const int width = std::max(area.width() - 2 * kScaleWidth, 1);
    const int height = std::max((area.height() - kTop - kTimeAxisHeight - 2 * kPlotGap) / 3, 1);
    for (int i = 0; i < 3; ++i) {
        layout.plots[static_cast<std::size_t>(i)] =
            QRect(left, area.top() + kTop + i * (height + kPlotGap), width, height);
    }
    return layout;
}

void drawHistory(QPainter& painter, const PlotLayout& layout, const PlotFrame& frame,
                 PlotBuffers& buffers, int hoverColumn) {
    // Around the plots only: each plot fills its own background.
    QRegion around(layout.area);
    for (const QRect& r : layout.plots) {
        around -= r;
    }
    painter.setClipRegion(around);
    painter.fillRect(layout.area, QColor(246, 246, 246));
    painter.setClipping(false);
    const TimeTicks ticks = timeTicks(frame);
    for (int ch = 0; ch < 3; ++ch) {
        drawChannel(painter, layout, frame, ticks.at, buffers.traces[static_cast<std::size_t>(ch)],
                    ch);
    }
    drawTimeLabels(painter, layout, frame, ticks);
    drawMarkers(painter, layout, frame);
    drawLegend(painter, layout.plots[0]);
    if (hoverColumn >= 0 && hoverColumn < frame.columns) {
        const double x = layout.left() + hoverColumn + 0.5;
        painter.setPen(QPen(QColor(0, 0, 0, 120), 1));
        painter.drawLine(QLineF(x, layout.plots[0].top(), x, layout.plots[2].bottom()));
    }
}

}  // namespace pz4::ui
