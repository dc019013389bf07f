// The set-value field: what typing lets through, which keys it keeps from the dialog, and what
// a parse of its text reports.
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QtTest>
#include <clocale>
#include <locale>

#include "ui/my_edit.h"
#include "ui/number_text.h"

using pz4::ui::CMyEdit;
using pz4::ui::IsValidNumber;

namespace {

// A window that records the field's reports and the values it saw while handling them.
class ReportingWindow : public QDialog {
  public:
    struct Report {
        int id;
        bool whole;
        bool valid;
        int value;
        double dvalue;
    };

    ReportingWindow() {
        field = new CMyEdit(1031, this);
        other = new QLineEdit(this);
        other->move(0, 40);
    }

    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(pz4::ui::WM_VALUE_ENTERED)) {
            reports.push_back({static_cast<pz4::ui::ValueEnteredEvent*>(e)->controlId(),
                               field->m_bWhole, field->m_bValid, field->m_nValue, field->m_dValue});
            return true;
        }
        return QDialog::event(e);
    }

    void reject() override { ++rejects; }

    CMyEdit* field;
    QLineEdit* other;
    QList<Report> reports;
    int rejects = 0;
};

}  // namespace

class MyEditTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        window = std::make_unique<ReportingWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->field->setFocus();
        QTRY_VERIFY(window->field->hasFocus());
    }
    void cleanup() { window.reset(); }

    void typingLetsOnlyDigitsAndMinusThrough() {
        QTest::keyClicks(window->field, "1a2.3 -4,x\t");
        QCOMPARE(window->field->text(), QString("123-4"));
        QTest::keyClick(window->field, Qt::Key_Backspace);
        QCOMPARE(window->field->text(), QString("123-"));
        // Pasting is done through keys that type control characters: dropped as well.
        QTest::keyClick(window->field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(window->field->text(), QString("123-"));
        QVERIFY(window->reports.isEmpty());
    }

    // What the operator does, step by step ("type 12", "enter", "leave", "fill 96" for the
    // worker writing a text, "away" for another application taking the focus), and how many
    // reports reach the window: only Enter, or leaving a text the operator changed, reports.
    void reportsOnlyWhatTheOperatorConfirmed_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QString>("text");
        QTest::newRow("visit and leave") << QStringList{"leave"} << 0 << "";
        QTest::newRow("pre-filled, visited, left") << QStringList{"fill 96", "leave"} << 0 << "96";
        QTest::newRow("typed, left") << QStringList{"type 12", "leave"} << 1 << "12";
        QTest::newRow("Enter, left") << QStringList{"type 12", "enter", "leave"} << 1 << "12";
        QTest::newRow("Enter twice") << QStringList{"type 12", "enter", "enter"} << 2 << "12";
        QTest::newRow("pre-filled, Enter") << QStringList{"fill 96", "enter"} << 1 << "96";
        QTest::newRow("typed, filled over, left")
            << QStringList{"type 12", "fill 96", "leave"} << 0 << "96";
        QTest::newRow("typed, another application, back, left")
            << QStringList{"type 12", "away", "leave"} << 1 << "12";
        QTest::newRow("typed, another application") << QStringList{"type 12", "away"} << 0 << "12";
    }

    void reportsOnlyWhatTheOperatorConfirmed() {
        QFETCH(QStringList, steps);
        QFETCH(int, reports);
        QFETCH(QString, text);
        QWidget elsewhere;
        for (const QString& step : steps) {
            const QString argument = step.section(' ', 1);
            if (step.startsWith("type")) {
                QTest::keyClicks(window->field, argument);
            } else if (step == "enter") {
                QTest::keyClick(window->field, Qt::Key_Return);
            } else if (step == "leave") {
                window->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(window.get()));
                window->field->setFocus();
                window->other->setFocus();
                QTRY_VERIFY(window->other->hasFocus());
            } else if (step.startsWith("fill")) {
                window->field->setText(argument);
            } else if (step == "away") {
                elsewhere.show();
                elsewhere.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
                QVERIFY(!window->isActiveWindow());
            }
        }
        QCOMPARE(window->reports.size(), reports);
        QCOMPARE(window->field->text(), text);
        for (const auto& report : window->reports) {
            QCOMPARE(report.id, 1031);
            QVERIFY(report.whole);
            QCOMPARE(report.value, text.toInt());
        }
    }

    void tabEscapeAndEnterStayInTheField() {
        QTest::keyClick(window->field, Qt::Key_Tab);
        QTest::keyClick(window->field, Qt::Key_Backtab);
        QVERIFY(window->field->hasFocus());
        QTest::keyClick(window->field, Qt::Key_Escape);
        QTest::keyClick(window->field, Qt::Key_Enter);
        QCOMPARE(window->rejects, 0);
        QVERIFY(window->field->hasFocus());
        QVERIFY(window->field->text().isEmpty());
    }

    void emptyTextReportsNoNumber() {
        QTest::keyClicks(window->field, "7");
        QTest::keyClick(window->field, Qt::Key_Backspace);
        QTest::keyClick(window->field, Qt::Key_Return);
        QCOMPARE(window->reports.size(), 1);
        QVERIFY(!window->field->m_bValid);
        QVERIFY(!window->field->m_bWhole);
        QCOMPARE(window->field->m_nValue, -1);
        QCOMPARE(window->field->m_dValue, -1.0);
    }

    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("whole");
        QTest::addColumn<int>("value");
        QTest::addColumn<double>("dvalue");
        QTest::newRow("whole") << "800" << true << true << 800 << 800.0;
        QTest::newRow("negative") << "-250" << true << true << -250 << -250.0;
        QTest::newRow("zero") << "0" << true << true << 0 << 0.0;
        QTest::newRow("minus alone") << "-" << false << false << -1 << -1.0;
        QTest::newRow("minus after digit") << "5-" << false << false << -1 << -1.0;
        QTest::newRow("state word off") << "off" << false << false << -1 << -1.0;
        QTest::newRow("state word error") << "error" << false << false << -1 << -1.0;
        QTest::newRow("above 32 bits") << "2147483648" << true << false << INT_MIN << 2147483648.0;
        QTest::newRow("lowest 32-bit") << "-2147483648" << true << true << INT_MIN << -2147483648.0;
        QTest::newRow("fraction") << "12.5" << true << false << 12 << 12.5;
        QTest::newRow("whole with point") << "12.0" << true << true << 12 << 12.0;
        QTest::newRow("leading blank") << " 42" << true << true << 42 << 42.0;
        QTest::newRow("trailing blank") << "42 " << false << false << -1 << -1.0;
        QTest::newRow("exponent") << "1e3" << true << true << 1000 << 1000.0;
        // Numbers only when read as hexadecimal are never offered as values to send.
        QTest::newRow("hex letters") << "abc" << true << false << 0 << 0.0;
        QTest::newRow("hex with digit") << "1A" << true << false << 1 << 1.0;
        QTest::newRow("hex prefix") << "0x10" << true << false << 0 << 0.0;
    }

    void parse() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(bool, whole);
        QFETCH(int, value);
        QFETCH(double, dvalue);
        // A number accepted before must not linger into the next parse.
        window->field->setText("99");
        window->field->ParseAndNotify();
        window->field->setText(text);
        window->field->ParseAndNotify();
        QCOMPARE(window->field->m_bValid, valid);
        QCOMPARE(window->field->m_bWhole, whole);
        QCOMPARE(window->field->m_nValue, value);
        QCOMPARE(window->field->m_dValue, dvalue);
        QCOMPARE(window->reports.size(), 2);
    }

    void parseIgnoresTheOperatorsLocale() {
        const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
        if (german == nullptr) {
            QSKIP("the de_DE.UTF-8 locale is not installed (scripts/deps installs it)");
        }
        const std::locale previous = std::locale::global(std::locale("de_DE.UTF-8"));
        window->field->setText("12.5");
        window->field->ParseAndNotify();
        const bool whole = window->field->m_bWhole;
        const double parsed = window->field->m_dValue;
        window->field->setText("12,5");
        window->field->ParseAndNotify();
        const bool commaValid = window->field->m_bValid;
        std::locale::global(previous);
        std::setlocale(LC_ALL, "C");
        QVERIFY(!whole);
        QCOMPARE(parsed, 12.5);
        QVERIFY(!commaValid);
    }

    void isValidNumberTakesOnlyBases10And16() {
        QVERIFY(IsValidNumber("10", 10));
        QVERIFY(IsValidNumber("10", 16));
        QVERIFY(!IsValidNumber("10", 8));
        QVERIFY(!IsValidNumber("ff", 10));
        QVERIFY(IsValidNumber("-0XfF", 16));
        QVERIFY(!IsValidNumber("100000000", 16));  // beyond 32 bits
        QVERIFY(!IsValidNumber("", 10));
    }

    void textIsLimitedTo149Characters() {
        window->field->setText(QString(200, QChar('7')));
        QCOMPARE(window->field->text().size(), CMyEdit::kMaxTextLength);
    }

  private:
    std::unique_ptr<ReportingWindow> window;
};

QTEST_MAIN(MyEditTest)
#include "my_edit_test.moc"
