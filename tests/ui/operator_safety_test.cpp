// Next to live high voltage: a set value reaches a supply only when the operator confirmed it,
// and only the supply the window named when it was confirmed. Judged on the wire of each
// simulated supply, in real time.
#include <QComboBox>
#include <QLineEdit>
#include <QtTest>

#include "res/resource.h"
#include "ui/my_edit.h"
#include "window_fixture.h"

using pz4::NO_VALUE;
using pz4::SetRequest;

namespace {

// Long enough for a few passes of the worker, so that anything pending has gone out.
constexpr int kPassesMs = 1200;

}  // namespace

class OperatorSafetyTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        if (f) {
            QCOMPARE(f->driver.misaddressedCount(), 0u);
            f->close();
        }
        f.reset();
    }

    // What the operator does in the set field of channel 1 while it is pre-filled with a
    // voltage still on its way to 300 V, and what goes on the wire.
    void onlyConfirmedValuesReachTheWire_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("visit and leave") << QStringList{"visit", "leave"} << QStringList{};
        QTest::newRow("typed, left")
            << QStringList{"visit", "type 350", "leave"} << QStringList{"42 PZ442S 0,350"};
        QTest::newRow("Enter, then left")
            << QStringList{"visit", "type 350", "enter", "leave"} << QStringList{"42 PZ442S 0,350"};
        // Clicking the serial-number box is leaving the supply, not confirming for it.
        QTest::newRow("typed, then the serial-number box")
            << QStringList{"visit", "type 12", "serial box"} << QStringList{};
        QTest::newRow("another application takes the focus")
            << QStringList{"visit", "type 350", "away", "back"} << QStringList{};
        // Emptied to type a new value while the readings move: no reading mixes in.
        QTest::newRow("emptied, readings change, typed, Enter")
            << QStringList{"visit", "clear", "readings change", "type 350", "enter"}
            << QStringList{"42 PZ442S 0,350"};
    }

    void onlyConfirmedValuesReachTheWire() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, sent);
        open("42=1U@300,0U,0U");
        f->driver.withSupply("42", [](auto& s) { s.rampVoltsPerSecond = 50; });
        auto* field = f->dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly() && !field->text().isEmpty(), 5000);
        QWidget elsewhere;
        for (const QString& step : steps) {
            if (step == "visit") {
                QTest::mouseClick(field, Qt::LeftButton);
                QVERIFY(field->hasFocus());
            } else if (step.startsWith("type")) {
                QTest::keyClick(field, Qt::Key_End);
                QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
                QTest::keyClicks(field, step.section(' ', 1));
            } else if (step == "enter") {
                QTest::keyClick(field, Qt::Key_Return);
            } else if (step == "clear") {
                QTest::keyClick(field, Qt::Key_End);
                QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
                QTest::keyClick(field, Qt::Key_Backspace);
                QCOMPARE(field->text(), QString());
            } else if (step == "readings change") {
                const QString shown = f->readoutText(IDC_VOLTAGE1);
                QTRY_VERIFY_WITH_TIMEOUT(f->readoutText(IDC_VOLTAGE1) != shown, 5000);
                QCOMPARE(field->text(), QString());
            } else if (step == "leave") {
                QTest::mouseClick(f->dlg->readout(IDC_VOLTAGE2), Qt::LeftButton);
                QVERIFY(!field->hasFocus());
            } else if (step == "serial box") {
                QTest::mouseClick(f->dlg->serialBox()->lineEdit(), Qt::LeftButton);
                QVERIFY(!field->hasFocus());
            } else if (step == "away") {
                elsewhere.show();
                elsewhere.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
            } else if (step == "back") {
                f->dlg->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(f->dlg.get()));
                // The operator finds the field as it was left.
                QCOMPARE(field->text(), QString("350"));
            }
        }
        if (!sent.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(f->setCommands(), sent, 5000);
        }
        // A few more passes: nothing more, and nothing twice.
        QTest::qWait(kPassesMs);
        QCOMPARE(f->setCommands(), sent);
    }

    // The supply goes away: the fields empty and close, and a value the operator tries to
    // enter then goes nowhere, not even once the supply is back.
    void nothingEnteredWhileTheSupplyIsGoneIsSent() {
        open("42=1U@300,0U,0U");
        auto* field = f->dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 5000);
        f->driver.unplug("42");
        QTRY_VERIFY_WITH_TIMEOUT(field->isReadOnly() && field->text().isEmpty(), 8000);
        QTest::mouseClick(field, Qt::LeftButton);
        QVERIFY(f->dlg->focusSink()->hasFocus());
        // However a text got there, it is no value for a supply that is not there.
        field->setText("123");
        field->ParseAndNotify();
        QCOMPARE(SetRequest[0].load(), NO_VALUE);

        f->driver.replug("42");
        QTRY_COMPARE_WITH_TIMEOUT(f->dlg->serialBox()->findText("42"), 0, 8000);
        emit f->dlg->serialBox()->activated(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 8000);
        QTest::qWait(kPassesMs);
        QCOMPARE(f->setCommands(), QStringList{});
    }

    // Another supply chosen while a value is pending and readings flow: what the old one
    // measured never stands under the new serial, the set fields stay closed until the new
    // supply has told its state, and the value goes nowhere.
    void choosingAnotherSupplyLeavesNothingOfTheOld() {
        open("42=1U@300,0U,0U;77=1U@500,1U@700,0U");
        for (const char* serial : {"42", "77"}) {
            f->driver.withSupply(serial, [](auto& s) { s.rampVoltsPerSecond = 0; });
        }
        auto* field = f->dlg->setField(0);
        QTRY_COMPARE_WITH_TIMEOUT(f->readoutText(IDC_VOLTAGE1), QString("300"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 5000);
        SetRequest[1] = 250;  // confirmed for 42 a moment ago, not sent yet
        emit f->dlg->serialBox()->activated(f->dlg->serialBox()->findText("77"));
        QCOMPARE(SetRequest[1].load(), NO_VALUE);
        for (int ch = 0; ch < 3; ++ch) {
            QVERIFY(f->dlg->setField(ch)->isReadOnly());
            QVERIFY(f->dlg->setField(ch)->text().isEmpty());
        }
        // From now on only 77's readings, or none: 500, 700, 0 V and 51, 72, 3 uA.
        const QStringList allowed[6] = {{"", "500"}, {"", "700"}, {"", "0"},
                                        {"", "51"},  {"", "72"},  {"", "3"}};
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 2000) {
            for (int i = 0; i < 6; ++i) {
                const QString shown = f->readoutText(IDC_VOLTAGE1 + i);
                QVERIFY2(allowed[i].contains(shown),
                         qPrintable(QString("readout %1 shows %2").arg(i).arg(shown)));
            }
            // A field opens only with 77's state known; before, no value is taken.
            if (!field->isReadOnly()) {
                QVERIFY(f->session().status.channelTakesSetValues(0));
            } else {
                field->setText("9");
                field->ParseAndNotify();
                QCOMPARE(SetRequest[0].load(), NO_VALUE);
            }
            QTest::qWait(5);
        }
        QTRY_COMPARE_WITH_TIMEOUT(f->readoutText(IDC_VOLTAGE2), QString("700"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 5000);
        QTest::qWait(kPassesMs);
        // The worker may have taken the value before the choice: then it went to 42, once.
        const QStringList sent = f->setCommands();
        QVERIFY2(sent.isEmpty() || sent == QStringList{"42 PZ442S 1,250"},
                 qPrintable(sent.join(", ")));
    }

    // A readout whose reading did not come is greyed and described as stale until a fresh one
    // comes; a value the supply did not take is marked "not set" until the operator types.
    void staleReadingsAndValuesNotSetAreMarked() {
        open("42=1U@500,0U,0U");
        QLineEdit* volts = f->dlg->readout(IDC_VOLTAGE1);
        QTRY_VERIFY_WITH_TIMEOUT(!volts->text().isEmpty(), 5000);
        const QColor live = volts->palette().color(QPalette::Text);
        QCOMPARE(volts->accessibleDescription(), QString());
        f->driver.withFaults("42", [](auto& faults) { faults.silent = true; });
        QTRY_COMPARE_WITH_TIMEOUT(volts->accessibleDescription(), QString("stale"), 3000);
        QVERIFY(!volts->text().isEmpty());
        QVERIFY(volts->palette().color(QPalette::Text) != live);
        f->driver.withFaults("42", [](auto& faults) { faults.silent = false; });
        QTRY_COMPARE_WITH_TIMEOUT(volts->accessibleDescription(), QString(), 3000);
        QCOMPARE(volts->palette().color(QPalette::Text), live);

        auto* field = f->dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 5000);
        f->driver.setCommandObserver([this](std::uint64_t, std::string_view, std::string_view cmd) {
            if (cmd.starts_with("PZ442S")) {
                f->driver.faults("42").errReplies = true;  // under the driver's lock
            }
        });
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClicks(field, "250");
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(field->accessibleDescription(),
                                  QString("not set: the supply did not acknowledge it"), 5000);
        QCOMPARE(field->text(), QString("250"));
        f->driver.setCommandObserver(nullptr);
        f->driver.withFaults("42", [](auto& faults) { faults.errReplies = false; });
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(field->accessibleDescription(), QString());
    }

  private:
    void open(const std::string& supplies) {
        f = std::make_unique<WindowFixture>();
        f->attach(supplies);
        f->open();
    }

    std::unique_ptr<WindowFixture> f;
};

QTEST_MAIN(OperatorSafetyTest)
#include "operator_safety_test.moc"
