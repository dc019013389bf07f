// The History window's plot: one supply's history over a span of time that follows the present
// until the operator pans away. The wheel zooms, dragging pans, the mouse shows the values under
// it. It repaints only when the picture would change: while following, when the present has moved
// a pixel (at most once a second), otherwise when new readings fall into view.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <string>

#include "history/history.h"
#include "history/plot_frame.h"
#include "ui/history_painter.h"

namespace pz4::ui {

class HistoryPlot : public QWidget {
    Q_OBJECT

  public:
    static constexpr std::int64_t kAllSpan = 0;  // from the first reading on

    explicit HistoryPlot(const History& history, QWidget* parent = nullptr);

    void setSerial(const std::string& serial);
    // Shows the last spanMs (kAllSpan: everything) and follows the present.
    void setSpan(std::int64_t spanMs);
    void follow();
    bool following() const { return following_; }
    // The span of time in view now.
    TimeRange range() const;
    // What the plot draws now (built afresh when something changed).
    const PlotFrame& frame();
    // The plot as a picture, without the mouse's mark.
    QImage picture();

  signals:
    void followingChanged(bool following);
    // The values under the mouse; empty when it left.
    void hovered(const QString& text);

  protected:
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    std::int64_t nowMs() const;
    std::int64_t spanOf(std::int64_t nowMs) const;
    std::int64_t timeAtColumn(int column) const;
    void setFollowing(bool following);
    // Repaints when the picture would change.
    void look();
    QString describe(std::int64_t t) const;

    const History& history_;
    std::string serial_;
    // An hour: what happened minutes ago stands in its context, and the view moves by a pixel
    // only every few seconds.
    std::int64_t spanMs_ = 60 * 60'000;
    std::int64_t endMs_ = 0;  // the right edge, while not following
    bool following_ = true;
    QTimer look_;
    // What the last frame was built for.
    PlotFrame frame_;
    PlotBuffers buffers_;
    std::int64_t frameNewestMs_ = -1;
    std::string frameSerial_;
    // Dragging: where it started and the right edge then.
    int dragX_ = -1;
    std::int64_t dragEndMs_ = 0;
    int hoverColumn_ = -1;
};

}  // namespace pz4::ui
