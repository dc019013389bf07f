// The main window's History and Record buttons: the History window of the supply it shows,
// and recording what the worker saw into a CSV file, chosen each time or named by PZ4_RECORD.
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include "history/record_name.h"
#include "res/resource.h"
#include "ui/device_text.h"
#include "ui/history_keeper.h"
#include "ui/history_window.h"
#include "ui/pz4_readout_dlg.h"

namespace pz4::ui {

void CPZ4_ReadOutDlg::setUpHistory() {
    history_ = std::make_unique<HistoryKeeper>();
    // Queued: the message it leads to runs an event loop, which must not run inside the drain.
    connect(history_.get(), &HistoryKeeper::recordingFailed, this,
            &CPZ4_ReadOutDlg::onRecordingFailed, Qt::QueuedConnection);
    connect(static_cast<QPushButton*>(control(IDC_HISTORY)), &QPushButton::clicked, this,
            &CPZ4_ReadOutDlg::OnHistory);
    connect(static_cast<QPushButton*>(control(IDC_RECORD)), &QPushButton::clicked, this,
            &CPZ4_ReadOutDlg::OnRecord);
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(shortcut, &QShortcut::activated, this, &CPZ4_ReadOutDlg::OnHistory);
    showRecording();
}

std::string CPZ4_ReadOutDlg::shownSerial() const {
    const DeviceSession* session = ActiveSession.load();
    if (session != nullptr && !session->serial.load().empty()) {
        return std::string(session->serial.load().view());
    }
    return toDevice(m_comboSerial->currentText());
}

HistoryWindow* CPZ4_ReadOutDlg::historyWindow() const {
    return historyWindow_;
}

void CPZ4_ReadOutDlg::OnHistory() {
    if (!historyWindow_) {
        HistoryWindowEnvironment env;
        env.chooseSaveFile = [this](const QString& caption, const QString& suggested,
                                    const QString& filter) {
            return chooseSaveFile(caption, suggested, filter);
        };
        env.showMessage = [this](const QString& text) { showMessage(text); };
        historyWindow_ = new HistoryWindow(history_->history(), std::move(env), this);
        historyWindow_->setWindowIcon(m_hIcon);
    }
    historyWindow_->showSupply(shownSerial());
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void CPZ4_ReadOutDlg::OnRecord() {
    if (history_->recording()) {
        stopRecording();
        return;
    }
    const QString name = QString::fromLatin1(
        recordFileName(shownSerial(), QDateTime::currentMSecsSinceEpoch()).c_str());
    const QString path =
        chooseSaveFile(QStringLiteral("Record to a CSV file"), QDir::home().filePath(name),
                       QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty()) {
        startRecording(path);
    }
}

bool CPZ4_ReadOutDlg::startRecording(const QString& path) {
    const QString reason = history_->startRecording(path);
    showRecording();
    if (reason.isEmpty()) {
        return true;
    }
    const QString text =
        QStringLiteral("Cannot record to %1:\n%2.").arg(QDir::toNativeSeparators(path), reason);
    // Not before the window runs: a message at start-up would hold up the worker.
    QTimer::singleShot(0, this, [this, text] { showMessage(text); });
    return false;
}

void CPZ4_ReadOutDlg::stopRecording() {
    const QString path = history_->recordPath();
    const QString reason = history_->stopRecording();
    showRecording();
    if (!reason.isEmpty()) {
        onRecordingFailed(path, reason);
    }
}

void CPZ4_ReadOutDlg::onRecordingFailed(const QString& path, const QString& reason) {
    showRecording();
    showMessage(QStringLiteral("Recording to %1 stopped:\n%2.\nWhat was recorded until then is "
                               "in the file.")
                    .arg(QDir::toNativeSeparators(path), reason));
}

void CPZ4_ReadOutDlg::showRecording() {
    auto* button = static_cast<QPushButton*>(control(IDC_RECORD));
    if (history_->recording()) {
        button->setText(QStringLiteral("Stop recording"));
        button->setToolTip(QStringLiteral("Recording to ") +
                           QDir::toNativeSeparators(history_->recordPath()));
    } else {
        button->setText(QStringLiteral("Record..."));
        button->setToolTip(QStringLiteral("Record the readings and events to a CSV file"));
    }
}

QString CPZ4_ReadOutDlg::chooseSaveFile(const QString& caption, const QString& suggested,
                                        const QString& filter) {
    if (environment_.chooseSaveFile) {
        return environment_.chooseSaveFile(caption, suggested, filter);
    }
    QWidget* parent = QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : this;
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

}  // namespace pz4::ui
