// The main window over the simulated supplies: start-up choice of supply, focus rules, entered
// values, the serial-number box, the worker's window operations, what a screen reader is told,
// and closing.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <thread>

#include "res/resource.h"
#include "ui/dialog_units.h"
#include "ui/my_edit.h"
#include "window_fixture.h"

using pz4::ActiveSession;
using pz4::NO_VALUE;
using pz4::SetRequest;

namespace {

// Runs fn on a thread of its own, as the worker calls the window, while this thread keeps
// carrying the calls out.
template <typename Fn>
void fromOtherThread(Fn fn) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        fn();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    other.join();
}

// Counts the set fields' reports to the window, by control id.
class ReportCounter : public QObject {
  public:
    int count(int id) const { return counts_.value(id); }

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(pz4::ui::WM_VALUE_ENTERED)) {
            ++counts_[static_cast<pz4::ui::ValueEnteredEvent*>(e)->controlId()];
        }
        return false;
    }

  private:
    QHash<int, int> counts_;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { f.reset(); }

    void startupChoosesTheSmallestSerialByText_data() {
        QTest::addColumn<QString>("supplies");
        QTest::addColumn<QString>("selected");
        QTest::newRow("one") << "42"
                             << "42";
        QTest::newRow("larger first") << "200;100"
                                      << "100";
        QTest::newRow("smaller first") << "100;200"
                                       << "100";
        QTest::newRow("equal values, first wins") << "07;7"
                                                  << "07";
        QTest::newRow("mixed lengths") << "1234567;9;42"
                                       << "9";
        QTest::newRow("none below 99999") << "123456;99999"
                                          << "";
        QTest::newRow("letters count as 0") << "AB12;5"
                                            << "AB12";
        QTest::newRow("no supply") << ""
                                   << "";
    }
    void startupChoosesTheSmallestSerialByText() {
        QFETCH(QString, supplies);
        QFETCH(QString, selected);
        fresh();
        f->attach(supplies.toStdString());
        f->open();
        QCOMPARE(f->dlg->serialBox()->currentText(), selected);
        QCOMPARE(QString::fromLatin1(f->session().serial.load().c_str()), selected);
        QCOMPARE(f->dlg->serialBox()->currentIndex() >= 0, !selected.isEmpty());
        // The box is sorted whatever the driver's order.
        for (int i = 1; i < f->dlg->serialBox()->count(); ++i) {
            QVERIFY(QString::compare(f->dlg->serialBox()->itemText(i - 1),
                                     f->dlg->serialBox()->itemText(i), Qt::CaseInsensitive) <= 0);
        }
        f->close();
    }

    void missingDriverIsReportedOnceAndTheWindowStillRuns() {
        fresh();
        auto env = f->environment();
        env.makeLink = [] { return std::make_unique<pz4::FtdiLink>("libno-such-driver.so"); };
        f->open(env);
        QCOMPARE(f->messages, QStringList{"The FTDI-driver for the PZ4 was not found.\n"
                                          "Please contact the Quorvin support."});
        QCOMPARE(f->dlg->serialBox()->count(), 0);
        QVERIFY(f->dlg->workerStarted());
        QTest::qWait(300);
        f->close();
        QCOMPARE(f->messages.size(), 1);
    }

    void initialStateAndLayout() {
        fresh();
        // No channel takes set values: every field stays closed, with its state word.
        f->attach("42=1I,1I,0U");
        f->open();
        auto* dlg = f->dlg.get();
        QCOMPARE(dlg->windowTitle(), QString("Quorvin PZ4 Control"));
        const QString words[3] = {"on", "on", "off"};
        for (int ch = 0; ch < 3; ++ch) {
            QTRY_COMPARE_WITH_TIMEOUT(dlg->setField(ch)->text(), words[ch], 5000);
            QVERIFY(dlg->setField(ch)->isReadOnly());
        }
        QVERIFY(dlg->focusSink()->hasFocus());
        QVERIFY(dlg->focusSink()->isVisible());
        QCOMPARE(dlg->focusSink()->size(), QSize(0, 0));
        // Places follow the template: the readouts of a row 29 units wide and 40 apart (at 41,
        // 81 and 121), the set field of channel 3 at x 131, 19 wide, right of its label at 122.
        const QRect v1 = dlg->control(IDC_VOLTAGE1)->geometry();
        const QRect v2 = dlg->control(IDC_VOLTAGE2)->geometry();
        const QRect v3 = dlg->control(IDC_VOLTAGE3)->geometry();
        QCOMPARE(v1.y(), v3.y());
        QCOMPARE(v1.width(), v2.width());
        QCOMPARE(v2.x() - v1.x(), v3.x() - v2.x());
        QVERIFY(qAbs((v2.x() - v1.x()) * 29 - v1.width() * 40) <= 40);  // a pixel of rounding
        QVERIFY(qAbs((v2.x() - v1.x()) * 41 - v1.x() * 40) <= 80);
        const QRect set3 = dlg->control(IDC_SET3)->geometry();
        QVERIFY(qAbs((set3.x() - v3.x()) * 40 - (v2.x() - v1.x()) * 10) <= 80);
        QVERIFY(dlg->control(IDC_SET_LABEL3)->geometry().x() < set3.x());
        // They stay put when the window grows.
        const QRect before = dlg->control(IDC_CURRENT1)->geometry();
        dlg->resize(dlg->width() * 2, dlg->height() * 2);
        QCoreApplication::processEvents();
        QCOMPARE(dlg->control(IDC_CURRENT1)->geometry(), before);
        QCOMPARE(static_cast<QLabel*>(dlg->control(IDC_SET_LABEL2))->text(), QString("set: "));
        f->close();
    }

    // Dialog units as the Windows dialog manager converts them: a quarter of the base width and
    // an eighth of the base height, rounded half away from zero.
    void dialogUnitsConvertAsWindowsDoes() {
        const pz4::ui::DialogUnits du{7, 15};
        QCOMPARE(du.map(81, 12, 29, 11), QRect(142, 23, 51, 21));
        QCOMPARE(du.x(2), 4);  // 3.5
        QCOMPARE(du.y(4), 8);  // 7.5
        QCOMPARE(du.y(-4), -8);
    }

    void readingsAppearAndAreShownByChannel() {
        fresh();
        f->attach("42=1U@500,1I@300,0U");
        f->open();
        QTRY_VERIFY_WITH_TIMEOUT(!f->readoutText(IDC_VOLTAGE1).isEmpty(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f->readoutText(IDC_CURRENT2).isEmpty(), 5000);
        QCOMPARE(f->readoutText(IDC_VOLTAGE3), QString("0"));
        // Status words land in the set fields; the editable channel is pre-filled.
        QTRY_COMPARE_WITH_TIMEOUT(f->dlg->setField(1)->text(), QString("on"), 5000);
        QCOMPARE(f->dlg->setField(2)->text(), QString("off"));
        QTRY_VERIFY_WITH_TIMEOUT(!f->dlg->setField(0)->isReadOnly(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f->dlg->setField(0)->text().isEmpty(), 5000);
        f->close();
    }

    void readoutsNeverKeepTheFocus() {
        fresh();
        f->attach("42=1U,1U,1U");
        f->open();
        for (int id : {IDC_VOLTAGE1, IDC_CURRENT3}) {
            QTest::mouseClick(f->dlg->control(id), Qt::LeftButton);
            QVERIFY(f->dlg->focusSink()->hasFocus());
        }
        f->dlg->control(IDC_VOLTAGE2)->setFocus(Qt::TabFocusReason);
        QVERIFY(f->dlg->focusSink()->hasFocus());
        // Nor does a paste that reaches it without the focus.
        QGuiApplication::clipboard()->setText("999");
        QTest::keyClick(f->dlg->readout(IDC_CURRENT3), Qt::Key_V, Qt::ControlModifier);
        QVERIFY(f->readoutText(IDC_CURRENT3) != "999");
        f->close();
    }

    void setFieldKeepsTheFocusOnlyWhenOnAndInModeU() {
        fresh();
        f->attach("42=1U,1I,0U");
        f->open();
        f->dlg->installEventFilter(&reports_);
        // Before any status reply no field may have the focus.
        f->dlg->setField(0)->setFocus(Qt::MouseFocusReason);
        QVERIFY(f->dlg->focusSink()->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(f->session().status.at(4) == '1', 5000);
        f->dlg->setField(0)->setFocus(Qt::MouseFocusReason);
        QVERIFY(f->dlg->setField(0)->hasFocus());
        for (int ch : {1, 2}) {
            const int reportsBefore = reportCount(ch);
            SetRequest[static_cast<std::size_t>(ch)] = NO_VALUE;
            f->dlg->setField(ch)->setFocus(Qt::MouseFocusReason);
            QVERIFY(f->dlg->focusSink()->hasFocus());
            // Refused, the field reports nothing: the operator changed nothing in it.
            QCOMPARE(reportCount(ch), reportsBefore);
            QCOMPARE(SetRequest[static_cast<std::size_t>(ch)].load(), NO_VALUE);
        }
        f->close();
    }

    void enteredWholeValuesBecomeSetRequests() {
        fresh();
        f->attach("42=0U,0U,1U");
        f->open();
        auto* field = f->dlg->setField(2);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 5000);
        const auto request = [] { return SetRequest[2].load(); };
        field->setText("-250");
        field->ParseAndNotify();
        QCOMPARE(request(), -250);
        field->setText("0");
        field->ParseAndNotify();
        QCOMPARE(request(), 0);
        // What can never be set is refused, and the field says so rather than pass for set.
        for (const char* never : {"2.5", "abc", "99999999999", "off", "11000", "-11000"}) {
            field->setText(never);
            field->ParseAndNotify();
            QCOMPARE(request(), 0);
            QVERIFY2(field->accessibleDescription().startsWith("not set: "), never);
        }
        field->setText("");
        field->ParseAndNotify();
        QCOMPARE(request(), 0);
        QTest::keyClicks(field, "7");
        QCOMPARE(field->accessibleDescription(), QString());  // typing again clears the mark
        field->setText("10999");
        field->ParseAndNotify();
        QCOMPARE(request(), 10999);
        f->dlg->OnValueEntered(IDC_SET3 + 1);
        QCOMPARE(request(), 10999);
        QTRY_COMPARE_WITH_TIMEOUT(request(), NO_VALUE, 5000);  // the worker sent it
        // A channel that leaves mode U keeps its number in the field, read-only; reporting it
        // again (a click on the field does) must not make it a set request.
        field->setText("300");
        f->driver.withSupply("42", [](auto& s) { s.setChannel(2, '1', 'I'); });
        QTRY_VERIFY_WITH_TIMEOUT(field->isReadOnly(), 5000);
        QCOMPARE(field->text(), QString("300"));
        field->ParseAndNotify();
        QCOMPARE(request(), NO_VALUE);
        f->close();
    }

    void typingWhileReadingsChangeCommitsOnlyTheWholeValue() {
        fresh();
        f->attach("42=1U@3000,0U,0U");
        f->driver.withSupply("42", [](auto& s) { s.rampVoltsPerSecond = 200; });
        f->open();
        auto* field = f->dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly() && !field->text().isEmpty(), 5000);
        field->setFocus(Qt::MouseFocusReason);
        QVERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
        for (char digit : {'8', '0', '0'}) {
            const QString shown = f->readoutText(IDC_VOLTAGE1);
            QTest::keyClick(field, digit);
            // Let at least one reading change while the value is half-typed.
            QTRY_VERIFY_WITH_TIMEOUT(f->readoutText(IDC_VOLTAGE1) != shown, 5000);
            QVERIFY(field->hasFocus());
        }
        QCOMPARE(field->text(), QString("800"));
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(f->sent("PZ442S 0,800"), 5000);
        for (const auto& command : f->driver.commands()) {
            QVERIFY(command != "PZ442S 0,8" && command != "PZ442S 0,80");
        }
        f->close();
    }

    void serialChoiceByOperatorOnlyAndEditsUndone() {
        fresh();
        f->attach("42;77");
        f->open();
        QCOMPARE(f->dlg->serialBox()->currentText(), QString("42"));
        // A selection made for the worker changes what the box shows, not the supply used.
        fromOtherThread([&] { f->dlg->SelectSerial(1); });
        QCOMPARE(f->dlg->serialBox()->currentText(), QString("77"));
        QCOMPARE(f->session().serial.load().view(), "42");
        fromOtherThread([&] { f->dlg->SelectSerial(5); });
        QCOMPARE(f->dlg->serialBox()->currentIndex(), -1);
        // The operator's choice is the supply used; values entered for the other one are
        // dropped.
        SetRequest[0] = 20000;
        emit f->dlg->serialBox()->activated(0);
        QCOMPARE(SetRequest[0].load(), 20000);
        emit f->dlg->serialBox()->activated(1);
        QCOMPARE(f->session().serial.load().view(), "77");
        QCOMPARE(SetRequest[0].load(), NO_VALUE);
        // Typing into the box is undone at once.
        f->dlg->serialBox()->setFocus();
        QTest::keyClicks(f->dlg->serialBox()->lineEdit(), "x");
        QCOMPARE(f->dlg->serialBox()->currentText(), QString("77"));
        QVERIFY(f->dlg->focusSink()->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(f->sent("PZ477GU"), 8000);
        f->close();
    }

    void serialBytesSurviveTheBox() {
        fresh();
        const std::string serial = "1\xB5";
        f->driver.addSupply(serial);
        f->open();
        QCOMPARE(f->session().serial.load().view(), serial);
        f->session().serial.store("");
        emit f->dlg->serialBox()->activated(0);
        QCOMPARE(f->session().serial.load().view(), serial);
        f->close();
    }

    void windowOperationsFromAnotherThread() {
        fresh();
        f->attach("");
        f->open();
        std::string fieldText;
        int count = -1;
        int found = -2;
        fromOtherThread([&] {
            f->dlg->ShowReading(pz4::Readout::Current2, "17");
            f->dlg->SetSetFieldText(1, "on");
            f->dlg->SetSetFieldReadOnly(1, false);
            fieldText = f->dlg->GetSetFieldText(1);
            f->dlg->ResetSerialList();
            f->dlg->AddSerial("b7");
            f->dlg->AddSerial("A9");
            f->dlg->AddSerial("a1");
            count = f->dlg->SerialListCount();
            found = f->dlg->FindSerial("b7");
        });
        QCOMPARE(f->readoutText(IDC_CURRENT2), QString("17"));
        QCOMPARE(fieldText, std::string("on"));
        QVERIFY(!f->dlg->setField(1)->isReadOnly());
        QCOMPARE(count, 3);
        QCOMPARE(found, 2);
        QCOMPARE(f->dlg->serialBox()->itemText(0), QString("a1"));
        fromOtherThread([&] { f->dlg->ClearReadings(); });
        QVERIFY(f->readoutText(IDC_CURRENT2).isEmpty());
        f->close();
    }

    // Each field is named by its channel and kind, and its labels lead to it: a screen reader
    // reads them as its labels. Alt+S leads to the serial number, F1 opens the About box.
    void fieldsAreNamedAndLabelledForAScreenReader() {
        fresh();
        f->attach("42");
        f->open();
        const struct {
            int id;
            const char* name;
            QStringList labels;
        } rows[] = {
            {IDC_VOLTAGE1, "Ch 1 voltage", {"V"}},
            {IDC_VOLTAGE3, "Ch 3 voltage", {"V"}},
            {IDC_CURRENT1, "Ch 1 current", {"uA"}},
            {IDC_CURRENT2, "Ch 2 current", {"uA"}},
            {IDC_SET1, "Ch 1 set voltage", {"Ch 1:", "V", "set: "}},
            {IDC_SET3, "Ch 3 set voltage", {"Ch 3:", "V", "set: "}},
            {IDC_SERIAL, "Serial number", {"SN#"}},
        };
        for (const auto& row : rows) {
            QAccessibleInterface* a =
                QAccessible::queryAccessibleInterface(f->dlg->control(row.id));
            QVERIFY(a != nullptr);
            QCOMPARE(a->text(QAccessible::Name), QString(row.name));
            QStringList labels;
            for (const auto& [label, relation] : a->relations(QAccessible::Label)) {
                labels << label->text(QAccessible::Name);
            }
            labels.sort();
            QCOMPARE(labels, row.labels);
        }
        // The edit part of the box, which holds the focus, says the same.
        QCOMPARE(QAccessible::queryAccessibleInterface(f->dlg->serialBox()->lineEdit())
                     ->text(QAccessible::Name),
                 QString("Serial number"));
        QTest::keyClick(f->dlg.get(), Qt::Key_S, Qt::AltModifier);
        QVERIFY(f->dlg->serialBox()->hasFocus());
        QString aboutTitle;
        QTimer::singleShot(200, [&] {
            if (QWidget* about = QApplication::activeModalWidget()) {
                aboutTitle = about->windowTitle();
                QTest::mouseClick(about->findChild<QPushButton*>(), Qt::LeftButton);
            }
        });
        QTest::keyClick(f->dlg.get(), Qt::Key_F1);
        QCOMPARE(aboutTitle, QString("About PZ4 Control"));
        f->close();
    }

  private:
    void fresh() {
        f.reset();
        f = std::make_unique<WindowFixture>();
    }

    int reportCount(int ch) { return reports_.count(IDC_SET1 + ch); }

    std::unique_ptr<WindowFixture> f;
    ReportCounter reports_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
