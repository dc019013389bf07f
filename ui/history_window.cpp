#include "ui/history_window.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "history/csv_recorder.h"
#include "history/history_export.h"
#include "history/record_name.h"
#include "ui/device_text.h"
#include "ui/history_plot.h"

namespace pz4::ui {

HistoryWindow::HistoryWindow(const History& history, HistoryWindowEnvironment environment,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history), environment_(std::move(environment)) {
    plot_ = new HistoryPlot(history_, this);
    bar_ = new QWidget(this);
    auto* buttons = new QHBoxLayout(bar_);
    buttons->setContentsMargins(0, 0, 0, 0);
    const std::pair<const char*, std::int64_t> spans[] = {{"1 min", 60'000},
                                                          {"10 min", 600'000},
                                                          {"1 h", 3'600'000},
                                                          {"8 h", 8 * 3'600'000},
                                                          {"All", HistoryPlot::kAllSpan}};
    for (const auto& [text, span] : spans) {
        addButton(QString::fromLatin1(text), [this, span = span] { plot_->setSpan(span); });
    }
    // Pressed while following it stays pressed: the button shows the state, it does not toggle.
    follow_ = addButton(QStringLiteral("Follow"), [this] {
        plot_->follow();
        follow_->setChecked(true);
    });
    follow_->setCheckable(true);
    follow_->setChecked(plot_->following());
    follow_->setToolTip(QStringLiteral("Keep the present at the right edge"));
    connect(plot_, &HistoryPlot::followingChanged, follow_, &QPushButton::setChecked);
    buttons->addStretch();
    addButton(QStringLiteral("Export PNG..."), [this] { exportPicture(); });
    addButton(QStringLiteral("Export CSV..."), [this] { exportRows(); });

    hover_ = new QLabel(this);
    hover_->setTextFormat(Qt::PlainText);
    hover_->setMinimumWidth(1);
    // The plot keeps its size whether or not the mouse is over it.
    hover_->setMinimumHeight(hover_->fontMetrics().height());
    connect(plot_, &HistoryPlot::hovered, hover_, &QLabel::setText);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(plot_, 1);
    layout->addWidget(hover_);
    resize(960, 640);
    showSupply({});
}

QPushButton* HistoryWindow::addButton(const QString& text, const std::function<void()>& onClick) {
    auto* button = new QPushButton(text, bar_);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, onClick);
    static_cast<QHBoxLayout*>(bar_->layout())->addWidget(button);
    return button;
}

void HistoryWindow::showSupply(const std::string& serial) {
    serial_ = serial;
    plot_->setSerial(serial);
    setWindowTitle(QStringLiteral("PZ4 History - ") + fromDevice(serial));
}

QString HistoryWindow::suggestedName(const char* extension) const {
    return QDir::home().filePath(QString::fromLatin1(
        recordFileName(serial_, QDateTime::currentMSecsSinceEpoch(), extension).c_str()));
}

void HistoryWindow::exportPicture() {
    const QString path =
        environment_.chooseSaveFile(QStringLiteral("Export the view as PNG"), suggestedName("png"),
                                    QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty()) {
        return;
    }
    QImageWriter writer(path, "png");
    if (!writer.write(plot_->picture())) {
        environment_.showMessage(QStringLiteral("Cannot write %1:\n%2.")
                                     .arg(QDir::toNativeSeparators(path), writer.errorString()));
    }
}

void HistoryWindow::exportRows() {
    const QString path =
        environment_.chooseSaveFile(QStringLiteral("Export the span as CSV"), suggestedName("csv"),
                                    QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) {
        return;
    }
    const ExportedRows exported = pz4::exportRows(history_, serial_, plot_->range());
    std::string reason;
    auto file =
        CsvRecorder::open(QFileInfo(path).filesystemFilePath(), CsvRecorder::Mode::Replace, reason);
    bool written = file != nullptr;
    for (std::size_t i = 0; written && i < exported.rows.size(); ++i) {
        written = file->write(exported.rows[i]);
    }
    written = written && file->close();
    if (!written) {
        environment_.showMessage(
            QStringLiteral("Cannot write %1:\n%2.")
                .arg(QDir::toNativeSeparators(path),
                     QString::fromLocal8Bit(file ? file->reason().c_str() : reason.c_str())));
    } else if (exported.thinnedLeftOut) {
        environment_.showMessage(QStringLiteral(
            "Readings older than two hours are kept only as the lowest and highest of each "
            "10 seconds; the file holds the readings of the span's last two hours, and every "
            "status change, set value and turn of the connection in it."));
    }
}

}  // namespace pz4::ui
