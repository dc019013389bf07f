#include "ui/pz4_readout_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/environment.h"
#include "protocol/leading_integer.h"
#include "res/resource.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/control_template.h"
#include "ui/device_text.h"
#include "ui/fonts.h"
#include "ui/history_keeper.h"
#include "ui/history_window.h"
#include "ui/my_edit.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace pz4::ui {
namespace {

// How long closing waits for a worker that is stuck in the driver before the process leaves.
constexpr auto kWorkerStopLimit = std::chrono::seconds(10);
// Start-up picks the supply with the smallest serial value below this.
constexpr long long kSerialValueLimit = 99999;

const char* const kMessageTitle = "PZ4_ReadOut";

}  // namespace

CPZ4_ReadOutDlg::CPZ4_ReadOutDlg(DialogEnvironment environment, QWidget* parent)
    : QDialog(parent), environment_(std::move(environment)), m_hIcon(programIcon()) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(kMainTemplate.title));
    buildControls();
    setUpHistory();
}

CPZ4_ReadOutDlg::~CPZ4_ReadOutDlg() {
    // A window destroyed without being closed still stops its worker first.
    ShutdownHandshake();
    // Before the history it shows goes with the members.
    delete historyWindow_;
}

bool CPZ4_ReadOutDlg::OnInitDialog() {
    addSystemMenuEntry();
    setWindowIcon(m_hIcon);

    session_ = createActiveSession(environment_.makeLink(),
                                   [this](const char* text) { showMessage(text); });
    DeviceSession* session = session_.get();
    fillChannelTables(NO_VALUE);

    session->deviceCount = session->link->listDevices();
    const auto serials = session->link->serials();
    int chosen = -1;
    long long smallest = kSerialValueLimit;
    for (int i = 0; i < session->deviceCount; ++i) {
        const char* entry = serials[static_cast<std::size_t>(i)].data();
        if (entry[0] == '\0') {
            break;
        }
        insertSorted(fromDevice(entry));
        const long long value = leadingInteger(entry);
        if (value < smallest) {
            smallest = value;
            chosen = i;
        }
    }
    // Select the chosen supply by its text: the box is sorted, so its position in the driver's
    // order need not be its place in the box.
    m_comboSerial->setCurrentIndex(
        chosen < 0 ? -1 : FindSerial(serials[static_cast<std::size_t>(chosen)].data()));
    if (m_comboSerial->currentIndex() >= 0) {
        session->serial.store(toDevice(m_comboSerial->currentText()));
    }

    for (auto* edits : {&m_editVoltage, &m_editCurrent}) {
        for (QLineEdit* edit : *edits) {
            edit->setFont(ReadoutFont());
            edit->setText(QString());
        }
    }
    for (CMyEdit* field : m_editSet) {
        field->setFont(SetFieldFont());
        field->setText(QString());
        field->setReadOnly(true);
    }
    for (int id = IDC_SET_UNIT1; id <= IDC_SET_LABEL3; ++id) {
        control(id)->setFont(SetFieldFont());
    }

    // Recording starts before the worker, so that the record holds all it did.
    if (const std::string record = platform::environmentText("PZ4_RECORD"); !record.empty()) {
        startRecording(QString::fromLocal8Bit(record.c_str()));
    }
    WorkerRunning.store(true);
    EventFeed* events = &history_->feed();
    worker_ = std::thread([this, events] { PollThread(*this, platform::systemClock(), events); });
    history_->start();
    moveFocusToSink();
    return true;
}

int CPZ4_ReadOutDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CPZ4_ReadOutDlg::showMessage(const QString& text) {
    if (environment_.showMessage) {
        environment_.showMessage(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageTitle), text, QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

void CPZ4_ReadOutDlg::moveFocusToSink() {
    m_focusSink->setFocus(Qt::OtherFocusReason);
}

bool CPZ4_ReadOutDlg::channelTakesSetValues(int channel) const {
    const DeviceSession* session = ActiveSession.load();
    if (session == nullptr || supplyChanging_) {
        return false;
    }
    return session->status.channelTakesSetValues(channel);
}

bool CPZ4_ReadOutDlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::FocusIn) {
        return QDialog::eventFilter(watched, e);
    }
    for (auto* edits : {&m_editVoltage, &m_editCurrent}) {
        for (QLineEdit* edit : *edits) {
            if (watched == edit) {
                moveFocusToSink();
                return true;
            }
        }
    }
    for (int ch = 0; ch < 3; ++ch) {
        if (watched == m_editSet[static_cast<std::size_t>(ch)] && !channelTakesSetValues(ch)) {
            // Refused: a text the operator changed in it is reported as it leaves, and the
            // window takes no value from a channel that takes none.
            moveFocusToSink();
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

bool CPZ4_ReadOutDlg::event(QEvent* e) {
    if (e->type() == static_cast<QEvent::Type>(WM_VALUE_ENTERED)) {
        OnValueEntered(static_cast<ValueEnteredEvent*>(e)->controlId());
        return true;
    }
    return QDialog::event(e);
}

void CPZ4_ReadOutDlg::OnValueEntered(int controlId) {
    const int channel = controlId - IDC_SET1;
    // A field that loses the focus because the window is closing reports what it holds; that
    // is no confirmation, and the worker's last pass would still send it.
    if (channel < 0 || channel > 2 || shuttingDown_) {
        return;
    }
    CMyEdit* field = m_editSet[static_cast<std::size_t>(channel)];
    // Only a channel that takes set values accepts one, and only from a field the operator
    // can edit: a number standing in a closed field was confirmed for nothing as it is now.
    if (field->isReadOnly() || !channelTakesSetValues(channel)) {
        return;
    }
    // What the supply could never be given must not stand in the field as if it were set.
    if (!field->m_bWhole) {
        if (!field->m_strText.empty()) {
            field->ShowNotSet(QStringLiteral("not set: not a whole number"));
        }
        return;
    }
    if (field->m_nValue <= -kSetValueLimit || field->m_nValue >= kSetValueLimit) {
        field->ShowNotSet(
            QStringLiteral("not set: the magnitude must be below %1 V").arg(kSetValueLimit));
        return;
    }
    field->ClearNotSet();
    SetRequest[static_cast<std::size_t>(channel)].store(field->m_nValue);
}

void CPZ4_ReadOutDlg::onSerialChosen(int index) {
    DeviceSession* session = ActiveSession.load();
    if (session == nullptr || index < 0) {
        return;
    }
    const std::string chosen = toDevice(m_comboSerial->itemText(index));
    if (session->serial.load().view() == chosen) {
        return;
    }
    // Nothing of the supply left may stand under the new serial or reach it: its readings and
    // set fields go now, what the worker still reports of it is ignored until the worker has
    // started over, and values entered for it are dropped.
    supplyChanging_ = true;
    session->serial.store(chosen);
    session->supplyChoice.fetch_add(1);
    fillSlots(SetRequest, NO_VALUE);
    clearReadouts();
    closeSetFields();
    if (historyWindow_) {
        historyWindow_->showSupply(chosen);
    }
}

void CPZ4_ReadOutDlg::closeSetFields() {
    for (CMyEdit* field : m_editSet) {
        if (field->hasFocus()) {
            moveFocusToSink();
        }
        field->setText(QString());
        field->ClearNotSet();
        field->setReadOnly(true);
    }
}

void CPZ4_ReadOutDlg::clearReadouts() {
    for (auto* edits : {&m_editVoltage, &m_editCurrent}) {
        for (QLineEdit* edit : *edits) {
            edit->setText(QString());
            markStale(edit, false);
        }
    }
}

void CPZ4_ReadOutDlg::markStale(QLineEdit* readout, bool stale) {
    if (stale) {
        QPalette greyed = readout->palette();
        greyed.setColor(QPalette::Text, greyed.color(QPalette::Disabled, QPalette::Text));
        readout->setPalette(greyed);
    } else {
        readout->setPalette(QPalette());
    }
    readout->setAccessibleDescription(stale ? QStringLiteral("stale") : QString());
}

void CPZ4_ReadOutDlg::onSerialEdited() {
    const DeviceSession* session = ActiveSession.load();
    if (session == nullptr) {
        return;
    }
    // Serial numbers are chosen, never typed.
    m_comboSerial->setEditText(QString::fromLatin1(session->serial.load().c_str()));
    moveFocusToSink();
}

void CPZ4_ReadOutDlg::insertSorted(const QString& text) {
    int at = 0;
    while (at < m_comboSerial->count() &&
           QString::compare(m_comboSerial->itemText(at), text, Qt::CaseInsensitive) <= 0) {
        ++at;
    }
    m_comboSerial->insertItem(at, text);
}

// Closing.

void CPZ4_ReadOutDlg::accept() {
    if (ShutdownHandshake()) {
        QDialog::accept();
    }
}

void CPZ4_ReadOutDlg::reject() {
    if (ShutdownHandshake()) {
        QDialog::reject();
    }
}

bool CPZ4_ReadOutDlg::ShutdownHandshake() {
    if (shuttingDown_) {
        return false;
    }
    shuttingDown_ = true;
    // Closing feels immediate; the worker's last pass finishes out of sight.
    hide();
    if (worker_.joinable()) {
        const auto deadline = std::chrono::steady_clock::now() + kWorkerStopLimit;
        while (WorkerRunning.load()) {
            // Raised again each time: a worker just starting clears it once.
            StopRequested.store(true);
            // The worker may be waiting for a window operation: keep carrying them out.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (std::chrono::steady_clock::now() > deadline) {
                // A driver that never returns: the worker still owns the session and the
                // link, so nothing of them may be freed. Leave without touching them.
                std::fputs("PZ4 Control: the worker did not stop; leaving.\n", stderr);
                std::_Exit(EXIT_FAILURE);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        worker_.join();
    }
    // The worker's last events belong in the history and the record, which closes complete.
    history_->drain();
    if (const QString reason = history_->stopRecording(); !reason.isEmpty()) {
        std::fprintf(stderr, "PZ4 Control: the record could not be completed: %s\n",
                     reason.toLocal8Bit().constData());
    }
    if (historyWindow_) {
        historyWindow_->close();
    }
    destroyActiveSession(session_);
    shutDown_ = true;
    return true;
}

// The About box.

void CPZ4_ReadOutDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CPZ4_ReadOutDlg::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    menu.addAction(QString::fromLatin1(kAboutMenuText), this, &CPZ4_ReadOutDlg::showAbout);
    menu.exec(e->globalPos());
}

#if defined(Q_OS_WIN)
void CPZ4_ReadOutDlg::addSystemMenuEntry() {
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (menu != nullptr) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, kAboutMenuText);
    }
}

bool CPZ4_ReadOutDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == IDM_ABOUTBOX) {
        showAbout();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#else
// Without a system menu the About entry lives in the window's context menu.
void CPZ4_ReadOutDlg::addSystemMenuEntry() {}
#endif

}  // namespace pz4::ui
