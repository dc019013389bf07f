// The set-value entry field: lets only digits, '-', Backspace and Enter through as typed
// characters, keeps every key from the dialog while it has the focus, and on Enter, or on
// leaving it after the operator changed its text, parses its text and reports it to its window
// at once.
#pragma once

#include <QEvent>
#include <QLineEdit>
#include <string>

namespace pz4::ui {

inline constexpr int WM_VALUE_ENTERED = 0x8064;  // the application message + 100

// Sent synchronously to the field's window: the window's handling is complete when
// ParseAndNotify returns.
class ValueEnteredEvent : public QEvent {
  public:
    explicit ValueEnteredEvent(int controlId)
        : QEvent(static_cast<QEvent::Type>(WM_VALUE_ENTERED)), m_nControlId(controlId) {}
    int controlId() const { return m_nControlId; }

  private:
    int m_nControlId;
    QWidget* m_pNoCommitFocus = nullptr;
    bool m_bNotSet = false;
};

class CMyEdit : public QLineEdit {
    Q_OBJECT

  public:
    static constexpr int kMaxTextLength = 149;

    CMyEdit(int controlId, QWidget* parent);

    int controlId() const { return m_nControlId; }
    void ParseAndNotify();

    // Focus moving into this widget (the serial-number box: leaving the supply) commits
    // nothing; leaving for anything else reports a changed text as usual.
    void setNoCommitFocus(QWidget* widget) { m_pNoCommitFocus = widget; }

    // The value confirmed here was not set: marked, and described as why, until the operator
    // types again or the text is replaced.
    void ShowNotSet(const QString& reason);
    void ClearNotSet();
    bool isMarkedNotSet() const { return m_bNotSet; }

    // The results of the last parse; the window reads them while handling the report.
    std::int32_t m_nValue = 0;  // truncated toward zero; -1 when the text was no number
    double m_dValue = 0.0;      // -1.0 when the text was no number
    bool m_bWhole = false;      // a decimal whole number that m_nValue holds exactly
    bool m_bValid = false;      // the text passed the decimal or the hexadecimal test
    std::string m_strText;      // the text the last parse read

  protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

  private:
    int m_nControlId;
    QWidget* m_pNoCommitFocus = nullptr;
    bool m_bNotSet = false;
};

}  // namespace pz4::ui
