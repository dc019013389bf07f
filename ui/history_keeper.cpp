#include "ui/history_keeper.h"

#include <QFileInfo>

namespace pz4::ui {

HistoryKeeper::HistoryKeeper(QObject* parent) : QObject(parent) {
    timer_.setInterval(kDrainIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &HistoryKeeper::drain);
}

// The record, if one is open, is closed with what it holds; the window stops it first, after the
// worker's last events, so that they are in it.
HistoryKeeper::~HistoryKeeper() = default;

void HistoryKeeper::start() {
    timer_.start();
}

void HistoryKeeper::drain() {
    QString failure;
    const std::size_t taken = feed_.drain([&](const WorkerEvent& event, std::uint32_t lostBefore) {
        if (lostBefore > 0) {
            history_.noteLost(lostBefore, event.wallMs);
        }
        history_.add(event);
        if (recorder_ && !recorder_->write(event)) {
            failure = QString::fromLocal8Bit(recorder_->reason().c_str());
            recorder_.reset();
        }
    });
    if (taken == 0) {
        return;
    }
    history_.trim();
    if (!failure.isEmpty()) {
        const QString path = recordPath_;
        recordPath_.clear();
        emit recordingFailed(path, failure);
    }
}

QString HistoryKeeper::startRecording(const QString& path) {
    stopRecording();
    std::string reason;
    recorder_ =
        CsvRecorder::open(QFileInfo(path).filesystemFilePath(), CsvRecorder::Mode::Append, reason);
    if (!recorder_) {
        return QString::fromLocal8Bit(reason.c_str());
    }
    recordPath_ = path;
    return {};
}

QString HistoryKeeper::stopRecording() {
    if (!recorder_) {
        return {};
    }
    // What the worker handed over up to now belongs in the record.
    drain();
    QString reason;
    if (recorder_ && !recorder_->close()) {
        reason = QString::fromLocal8Bit(recorder_->reason().c_str());
    }
    recorder_.reset();
    recordPath_.clear();
    return reason;
}

}  // namespace pz4::ui
