#include "ui/history_plot.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "history/csv_row.h"
#include "ui/history_painter.h"

namespace pz4::ui {
namespace {

constexpr std::int64_t kShortestSpanMs = 10'000;
constexpr std::int64_t kLongestSpanMs = kKeptMs + kFullResolutionMs;
constexpr int kLookIntervalMs = 1000;

QString reading(const std::optional<ReadingAt>& r, const char* unit) {
    if (!r) {
        return QStringLiteral("-");
    }
    if (r->thinned) {
        return QStringLiteral("%1..%2 %3").arg(r->min).arg(r->max).arg(QLatin1String(unit));
    }
    return QStringLiteral("%1 %2").arg(r->min).arg(QLatin1String(unit));
}

}  // namespace

HistoryPlot::HistoryPlot(const History& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 300);
    look_.setInterval(kLookIntervalMs);
    connect(&look_, &QTimer::timeout, this, &HistoryPlot::look);
}

void HistoryPlot::setSerial(const std::string& serial) {
    serial_ = serial;
    update();
}

void HistoryPlot::setSpan(std::int64_t spanMs) {
    spanMs_ = spanMs;
    setFollowing(true);
    update();
}

void HistoryPlot::follow() {
    setFollowing(true);
    update();
}

void HistoryPlot::setFollowing(bool following) {
    if (following_ != following) {
        following_ = following;
        emit followingChanged(following);
    }
}

std::int64_t HistoryPlot::nowMs() const {
    return QDateTime::currentMSecsSinceEpoch();
}

std::int64_t HistoryPlot::spanOf(std::int64_t now) const {
    if (spanMs_ != kAllSpan) {
        return spanMs_;
    }
    const auto first = firstTimeOf(history_, serial_);
    return std::clamp(first ? now - *first : kShortestSpanMs, kShortestSpanMs, kLongestSpanMs);
}

TimeRange HistoryPlot::range() const {
    const std::int64_t now = nowMs();
    const std::int64_t end = following_ ? now : endMs_;
    return {end - spanOf(now), end};
}

const PlotFrame& HistoryPlot::frame() {
    const TimeRange r = range();
    const int columns = PlotLayout::of(rect()).columns();
    if (r.fromMs != frame_.range.fromMs || r.toMs != frame_.range.toMs ||
        columns != frame_.columns || history_.newestMs() != frameNewestMs_ ||
        serial_ != frameSerial_) {
        frame_ = buildFrame(history_, serial_, r, columns);
        frameNewestMs_ = history_.newestMs();
        frameSerial_ = serial_;
    }
    return frame_;
}

QImage HistoryPlot::picture() {
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(font());
    PlotBuffers buffers;
    drawHistory(painter, PlotLayout::of(image.rect()), frame(), buffers);
    return image;
}

void HistoryPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawHistory(painter, PlotLayout::of(rect()), frame(), buffers_, hoverColumn_);
}

void HistoryPlot::look() {
    const std::int64_t now = nowMs();
    const std::int64_t columnMs = spanOf(now) / std::max(frame_.columns, 1);
    const bool moved =
        following_ && now - frame_.range.toMs >= std::max<std::int64_t>(columnMs, kLookIntervalMs);
    const bool newInView = history_.newestMs() != frameNewestMs_ &&
                           history_.newestMs() >= frame_.range.fromMs &&
                           frameNewestMs_ < frame_.range.toMs;
    if (moved || (!following_ && newInView)) {
        update();
    }
}

void HistoryPlot::showEvent(QShowEvent*) {
    look_.start();
}

void HistoryPlot::hideEvent(QHideEvent*) {
    look_.stop();
}

std::int64_t HistoryPlot::timeAtColumn(int column) const {
    const TimeRange r = frame_.range;
    return r.fromMs + r.span() * column / std::max(frame_.columns, 1);
}

void HistoryPlot::wheelEvent(QWheelEvent* e) {
    const double notches = e->angleDelta().y() / 120.0;
    if (notches == 0) {
        return;
    }
    const TimeRange r = range();
    const std::int64_t span = std::clamp(
        static_cast<std::int64_t>(static_cast<double>(r.span()) * std::pow(0.8, notches)),
        kShortestSpanMs, kLongestSpanMs);
    // Following, the present stays at the right edge; otherwise the time under the mouse stays
    // where it is.
    if (!following_) {
        const int column = static_cast<int>(e->position().x()) - PlotLayout::of(rect()).left();
        const double share =
            std::clamp(static_cast<double>(column) / std::max(frame_.columns, 1), 0.0, 1.0);
        const auto anchor =
            r.fromMs + static_cast<std::int64_t>(share * static_cast<double>(r.span()));
        endMs_ = anchor + static_cast<std::int64_t>((1 - share) * static_cast<double>(span));
    }
    spanMs_ = span;
    update();
    e->accept();
}

void HistoryPlot::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        dragX_ = static_cast<int>(e->position().x());
        dragEndMs_ = range().toMs;
    }
}

void HistoryPlot::mouseMoveEvent(QMouseEvent* e) {
    const int x = static_cast<int>(e->position().x());
    if (dragX_ >= 0 && (e->buttons() & Qt::LeftButton)) {
        const TimeRange r = range();
        const std::int64_t shift =
            (dragX_ - x) * r.span() / std::max(PlotLayout::of(rect()).columns(), 1);
        const std::int64_t end = dragEndMs_ + shift;
        // Dragged up to the present: following again.
        if (end >= nowMs()) {
            setFollowing(true);
        } else {
            endMs_ = end;
            setFollowing(false);
        }
        update();
    }
    const int column = x - PlotLayout::of(rect()).left();
    hoverColumn_ = column >= 0 && column < frame_.columns ? column : -1;
    emit hovered(hoverColumn_ < 0 ? QString() : describe(timeAtColumn(hoverColumn_)));
    update();
}

void HistoryPlot::mouseReleaseEvent(QMouseEvent*) {
    dragX_ = -1;
}

void HistoryPlot::leaveEvent(QEvent*) {
    hoverColumn_ = -1;
    emit hovered(QString());
    update();
}

QString HistoryPlot::describe(std::int64_t t) const {
    // A few pixels' time either way still counts as under the mouse.
    const std::int64_t slack = 3 * frame_.range.span() / std::max(frame_.columns, 1);
    QString text = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("ddd HH:mm:ss"));
    for (int ch = 0; ch < 3; ++ch) {
        const ChannelAt at = channelAt(history_, serial_, ch, t, slack);
        text += QStringLiteral("   Ch %1: %2, %3")
                    .arg(ch + 1)
                    .arg(reading(at.voltage, "V"), reading(at.current, "uA"));
        const std::string state = stateColumn(at.state, at.mode);
        if (!state.empty()) {
            text += QStringLiteral(", ") + QString::fromLatin1(state.c_str());
        }
        if (at.set) {
            text += QStringLiteral(", set %1 V").arg(*at.set);
        }
    }
    return text;
}

}  // namespace pz4::ui
