// The History window: what one supply did over the last minute up to the last week, its span
// chosen by buttons, the wheel and dragging, with the values under the mouse below the plot;
// the view exported as a picture or its span as record rows.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "history/history.h"

class QLabel;
class QPushButton;

namespace pz4::ui {

class HistoryPlot;

// What the window needs from outside; tests answer the file dialogs and take the messages.
struct HistoryWindowEnvironment {
    // A file to write, suggested first; empty when the operator cancels.
    std::function<QString(const QString& caption, const QString& suggested, const QString& filter)>
        chooseSaveFile;
    std::function<void(const QString&)> showMessage;
};

class HistoryWindow : public QWidget {
    Q_OBJECT

  public:
    HistoryWindow(const History& history, HistoryWindowEnvironment environment,
                  QWidget* parent = nullptr);

    // The supply whose history it shows; the title names it.
    void showSupply(const std::string& serial);
    const std::string& serial() const { return serial_; }
    HistoryPlot* plot() const { return plot_; }

    void exportPicture();
    void exportRows();

  private:
    QPushButton* addButton(const QString& text, const std::function<void()>& onClick);
    QString suggestedName(const char* extension) const;

    const History& history_;
    HistoryWindowEnvironment environment_;
    std::string serial_;
    HistoryPlot* plot_ = nullptr;
    QPushButton* follow_ = nullptr;
    QLabel* hover_ = nullptr;
    QWidget* bar_ = nullptr;
};

}  // namespace pz4::ui
