// The main window: per channel the measured voltage and current and a set-value field, the
// serial-number box to pick the supply, and the logo. It carries out the worker's window
// operations on the window thread.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "link/driver_choice.h"
#include "link/ftdi_link.h"
#include "protocol/device_session.h"
#include "worker/readout_view.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace pz4::ui {

class CMyEdit;
class HistoryKeeper;
class HistoryWindow;

// What the window needs from outside; tests replace the driver and the message boxes.
struct DialogEnvironment {
    std::function<std::unique_ptr<FtdiLink>()> makeLink = [] { return makeDriverLink(); };
    // A modal message with an OK button; null for the window's own message box.
    std::function<void(const QString&)> showMessage;
    // A file to write, the suggested one first; empty when the operator cancels. Null for the
    // window's own file dialog.
    std::function<QString(const QString& caption, const QString& suggested, const QString& filter)>
        chooseSaveFile;
};

class CPZ4_ReadOutDlg : public QDialog, public ReadoutView {
    Q_OBJECT

  public:
    explicit CPZ4_ReadOutDlg(DialogEnvironment environment = {}, QWidget* parent = nullptr);
    ~CPZ4_ReadOutDlg() override;

    // Creates the session, fills the serial-number box, prepares the controls and starts the
    // worker, last.
    bool OnInitDialog();
    // OnInitDialog, then the modal run.
    int DoModal();

    // The window's handling of a set field's report.
    void OnValueEntered(int controlId);
    // Opens the History window, or brings it to the front.
    void OnHistory();
    // Starts recording into a file the operator chooses, or stops recording.
    void OnRecord();

    // Controls by id, for the window's own use and for tests.
    QLineEdit* readout(int controlId) const;
    CMyEdit* setField(int channel) const { return m_editSet[static_cast<std::size_t>(channel)]; }
    QComboBox* serialBox() const { return m_comboSerial; }
    QLineEdit* focusSink() const { return m_focusSink; }
    QWidget* control(int controlId) const;
    bool workerStarted() const { return worker_.joinable(); }
    HistoryWindow* historyWindow() const;
    HistoryKeeper& historyKeeper() const { return *history_; }

    // ReadoutView, called from the worker's thread.
    void ShowReading(Readout field, std::string_view text) override;
    void MarkStale(Readout field) override;
    void ClearReadings() override;
    std::string GetSetFieldText(int channel) override;
    void SetSetFieldText(int channel, std::string_view text) override;
    void PrefillSetField(int channel, std::string_view text) override;
    void SetSetFieldReadOnly(int channel, bool readOnly) override;
    void ShowSetFailed(int channel, std::string_view reason) override;
    void ResetSerialList() override;
    void AddSerial(std::string_view text) override;
    int SerialListCount() override;
    int FindSerial(std::string_view text) override;
    void SelectSerial(int index) override;
    void ShowError(std::string_view text) override;
    void PostCloseRequest() override;

  public slots:
    void accept() override;
    void reject() override;

  protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
#if defined(Q_OS_WIN)
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

  private:
    void buildControls();
    void addSystemMenuEntry();
    void showMessage(const QString& text);
    void moveFocusToSink();
    void onSerialChosen(int index);
    // Empties the set fields and makes them read-only.
    void closeSetFields();
    void clearReadouts();
    // A stale readout is drawn greyed and described as "stale".
    static void markStale(QLineEdit* readout, bool stale);
    void onSerialEdited();
    // The channel is on and in mode U by the last status: its set field may hold the focus
    // and its entered values become set requests.
    bool channelTakesSetValues(int channel) const;
    void insertSorted(const QString& text);
    // Stops the worker and destroys the session; true once that is done.
    bool ShutdownHandshake();
    void showAbout();
    // Recording (ui/main_window_history.cpp).
    void setUpHistory();
    // Starts recording into path; tells the operator when it cannot.
    bool startRecording(const QString& path);
    void stopRecording();
    void onRecordingFailed(const QString& path, const QString& reason);
    // The Record button says whether and where the window records.
    void showRecording();
    QString chooseSaveFile(const QString& caption, const QString& suggested, const QString& filter);
    // The supply the window works with: the one chosen, else the one the box shows.
    std::string shownSerial() const;

    DialogEnvironment environment_;
    QIcon m_hIcon;
    std::array<QLineEdit*, 3> m_editVoltage{};
    std::array<QLineEdit*, 3> m_editCurrent{};
    std::array<CMyEdit*, 3> m_editSet{};
    QComboBox* m_comboSerial = nullptr;
    QLineEdit* m_focusSink = nullptr;
    std::map<int, QWidget*> controls_;
    std::unique_ptr<DeviceSession> session_;
    // Before the worker, which hands its events to it, and after it in destruction.
    std::unique_ptr<HistoryKeeper> history_;
    QPointer<HistoryWindow> historyWindow_;
    std::thread worker_;
    bool shuttingDown_ = false;
    // The operator chose another supply and the worker has not yet started over: what it
    // reports still comes from the supply left, and no set field takes a value.
    bool supplyChanging_ = false;
    bool shutDown_ = false;
};

}  // namespace pz4::ui
