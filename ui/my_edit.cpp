#include "ui/my_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <cmath>
#include <limits>

#include "ui/number_text.h"

namespace pz4::ui {
namespace {

bool isEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Keys that edit or move without typing a character keep their usual meaning.
bool isEditingKey(int key) {
    switch (key) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
    }
}

bool isAllowedCharacter(QChar c) {
    return c == u'-' || (c >= u'0' && c <= u'9');
}

}  // namespace

CMyEdit::CMyEdit(int controlId, QWidget* parent) : QLineEdit(parent), m_nControlId(controlId) {
    setMaxLength(kMaxTextLength);
    // Typing starts a new value; whatever was not set before is no longer in the field.
    connect(this, &QLineEdit::textEdited, this, &CMyEdit::ClearNotSet);
}

void CMyEdit::ShowNotSet(const QString& reason) {
    m_bNotSet = true;
    QPalette marked = palette();
    marked.setColor(QPalette::Text, Qt::red);
    setPalette(marked);
    setAccessibleDescription(reason);
    setToolTip(reason);
}

void CMyEdit::ClearNotSet() {
    if (!m_bNotSet) {
        return;
    }
    m_bNotSet = false;
    setPalette(QPalette());
    setAccessibleDescription(QString());
    setToolTip(QString());
}

bool CMyEdit::event(QEvent* e) {
    // Tab would otherwise move the focus before the field ever sees the key.
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            e->accept();
            return true;
        }
    }
    return QLineEdit::event(e);
}

void CMyEdit::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    // Enter parses and reports; it never reaches the dialog.
    if (isEnter(key)) {
        ParseAndNotify();
        e->accept();
        return;
    }
    // Escape would close the window; while the field has the focus it does nothing.
    if (key == Qt::Key_Escape) {
        e->accept();
        return;
    }
    if (isEditingKey(key) || e->text().isEmpty()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    // Any other typed character, Escape and control characters included, is dropped here so
    // that it neither edits the field nor reaches the dialog.
    if (!isAllowedCharacter(e->text().front())) {
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void CMyEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    // A context menu borrows the focus, and another application takes it from the whole
    // window, without the field being left: the operator finds it as it was on coming back.
    if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason) {
        return;
    }
    // Moving to the serial-number box is leaving the supply: what was typed for it is not
    // meant for it any more, and choosing another empties the fields anyway.
    const QWidget* next = QApplication::focusWidget();
    if (m_pNoCommitFocus != nullptr && next != nullptr &&
        (next == m_pNoCommitFocus || m_pNoCommitFocus->isAncestorOf(next))) {
        return;
    }
    // Passing through a field confirms nothing: only a text the operator changed since the
    // field was last filled or committed is reported.
    if (isModified()) {
        ParseAndNotify();
    }
}

void CMyEdit::ParseAndNotify() {
    m_dValue = 0.0;
    m_nValue = 0;
    m_bValid = false;
    m_strText.clear();

    m_strText = text().left(kMaxTextLength).toStdString();
    const char* chars = m_strText.c_str();
    bool decimal = false;
    if (!m_strText.empty()) {
        decimal = IsValidNumber(chars, 10);
        m_bValid = decimal || IsValidNumber(chars, 16);
    }
    if (m_bValid) {
        const double v = leadingDecimalValue(chars);
        m_dValue = v;
        const double truncated = std::trunc(v);
        m_nValue = truncated >= -2147483648.0 && truncated <= 2147483647.0
                       ? static_cast<std::int32_t>(truncated)
                       : std::numeric_limits<std::int32_t>::min();
        // A text that is a number only when read as hexadecimal gets the value of its leading
        // decimal digits ("ff" reads 0, "1A" reads 1): never a value the operator meant, so it
        // is not offered as a whole number to be sent.
        m_bWhole = decimal && static_cast<double>(m_nValue) == v;
    } else {
        m_nValue = -1;
        m_dValue = -1.0;
        m_bWhole = false;
    }
    // Reported once: leaving the field after Enter reports nothing new.
    setModified(false);
    if (QWidget* target = window()) {
        ValueEnteredEvent report(m_nControlId);
        QApplication::sendEvent(target, &report);
    }
}

}  // namespace pz4::ui
