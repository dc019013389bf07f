// Keeps the history and the record on the window's thread: takes what the worker handed over
// (a few times a second, never waiting on the worker) into the history and, while recording,
// into the record file.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "history/csv_recorder.h"
#include "history/event_feed.h"
#include "history/history.h"

namespace pz4::ui {

class HistoryKeeper : public QObject {
    Q_OBJECT

  public:
    explicit HistoryKeeper(QObject* parent = nullptr);
    ~HistoryKeeper() override;

    // Where the worker hands its events over.
    EventFeed& feed() { return feed_; }
    const History& history() const { return history_; }

    // Takes what the worker handed over, from now on every drainIntervalMs.
    void start();
    void drain();

    // Starts recording into path, appending; empty when it started, else why not.
    QString startRecording(const QString& path);
    // Flushes and closes the record; empty when all of it was written, else why not.
    QString stopRecording();
    bool recording() const { return recorder_ != nullptr; }
    const QString& recordPath() const { return recordPath_; }

    static constexpr int kDrainIntervalMs = 250;

  signals:
    // Writing the record failed and recording has stopped; reason as the system says it.
    // Connect it queued: the message it leads to runs an event loop, and the drain with it.
    void recordingFailed(const QString& path, const QString& reason);

  private:
    EventFeed feed_;
    History history_;
    std::unique_ptr<CsvRecorder> recorder_;
    QString recordPath_;
    QTimer timer_;
};

}  // namespace pz4::ui
