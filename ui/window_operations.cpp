// The window operations the worker calls from its own thread, each carried out on the window
// thread; all but the close request return when it is done.
#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QThread>
#include <atomic>

#include "ui/device_text.h"
#include "ui/my_edit.h"
#include "ui/pz4_readout_dlg.h"

namespace pz4::ui {
namespace {

// Runs fn on the window's thread and returns when it has run. On that thread itself it runs at
// once: a blocking call there would wait for itself. While the window waits for the worker to
// end, it goes on carrying these out.
template <typename Fn>
void onWindowThread(QObject* window, Fn fn) {
    if (QThread::currentThread() == window->thread()) {
        fn();
        return;
    }
    // Qt hands the call over and back in code the thread sanitizer cannot see into; these two
    // flags say the same in a way it can, so that what each side wrote is seen by the other.
    std::atomic<bool> handedOver{false};
    std::atomic<bool> done{false};
    handedOver.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        window,
        [&] {
            handedOver.load(std::memory_order_acquire);
            fn();
            done.store(true, std::memory_order_release);
        },
        Qt::BlockingQueuedConnection);
    done.load(std::memory_order_acquire);
}

}  // namespace

void CPZ4_ReadOutDlg::ShowReading(Readout field, std::string_view text) {
    onWindowThread(this, [&] {
        QLineEdit* edit = readout(static_cast<int>(field));
        if (edit != nullptr && !supplyChanging_) {
            edit->setText(fromDevice(text));
            markStale(edit, false);
        }
    });
}

void CPZ4_ReadOutDlg::MarkStale(Readout field) {
    onWindowThread(this, [&] {
        QLineEdit* edit = readout(static_cast<int>(field));
        if (edit != nullptr && !supplyChanging_) {
            markStale(edit, true);
        }
    });
}

void CPZ4_ReadOutDlg::ClearReadings() {
    onWindowThread(this, [&] {
        clearReadouts();
        // The worker starts over: from now on it reports the supply the operator chose.
        supplyChanging_ = false;
    });
}

std::string CPZ4_ReadOutDlg::GetSetFieldText(int channel) {
    std::string text;
    onWindowThread(this, [&] { text = toDevice(setField(channel)->text()); });
    return text;
}

void CPZ4_ReadOutDlg::SetSetFieldText(int channel, std::string_view text) {
    onWindowThread(this, [&] {
        if (!supplyChanging_) {
            setField(channel)->setText(fromDevice(text));
            setField(channel)->ClearNotSet();
        }
    });
}

void CPZ4_ReadOutDlg::PrefillSetField(int channel, std::string_view text) {
    onWindowThread(this, [&] {
        CMyEdit* field = setField(channel);
        // A field the operator is in, or has edited, is theirs: emptied to type a new value, it
        // stays empty.
        if (!supplyChanging_ && field->text().isEmpty() && !field->hasFocus() &&
            !field->isModified()) {
            field->setText(fromDevice(text));
        }
    });
}

void CPZ4_ReadOutDlg::SetSetFieldReadOnly(int channel, bool readOnly) {
    onWindowThread(this, [&] {
        if (!supplyChanging_) {
            setField(channel)->setReadOnly(readOnly);
        }
    });
}

void CPZ4_ReadOutDlg::ShowSetFailed(int channel, std::string_view reason) {
    onWindowThread(this, [&] {
        if (!supplyChanging_) {
            setField(channel)->ShowNotSet(fromDevice(reason));
        }
    });
}

void CPZ4_ReadOutDlg::ResetSerialList() {
    onWindowThread(this, [&] { m_comboSerial->clear(); });
}

void CPZ4_ReadOutDlg::AddSerial(std::string_view text) {
    onWindowThread(this, [&] { insertSorted(fromDevice(text)); });
}

int CPZ4_ReadOutDlg::SerialListCount() {
    int count = 0;
    onWindowThread(this, [&] { count = m_comboSerial->count(); });
    return count;
}

int CPZ4_ReadOutDlg::FindSerial(std::string_view text) {
    int index = -1;
    onWindowThread(this, [&] {
        index =
            m_comboSerial->findText(fromDevice(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    });
    return index;
}

void CPZ4_ReadOutDlg::SelectSerial(int index) {
    onWindowThread(this, [&] {
        // The worker found the index before the operator chose again: the box shows the choice.
        if (supplyChanging_ && ActiveSession.load() != nullptr) {
            index = FindSerial(ActiveSession.load()->serial.load().view());
        }
        m_comboSerial->setCurrentIndex(index >= 0 && index < m_comboSerial->count() ? index : -1);
    });
}

void CPZ4_ReadOutDlg::ShowError(std::string_view text) {
    onWindowThread(this, [&] {
        // An operator who is already closing the window has nothing left to decide.
        if (!shuttingDown_) {
            showMessage(fromDevice(text));
        }
    });
}

void CPZ4_ReadOutDlg::PostCloseRequest() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

}  // namespace pz4::ui
