// The program in real time, as an operator meets it: the window loads the stand-in driver library
// by its usual name, and the simulated bridge hands replies over in latency-timer batches. Run on
// a virtual X display (under_xvfb.sh). What the window shows is checked against what the
// simulated supplies measure, all the time, and what the operator confirms against what each
// supply receives.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <cstdlib>

#include "res/resource.h"
#include "tests/ui/sim_library.h"
#include "ui/my_edit.h"
#include "ui/pz4_readout_dlg.h"
#include "worker/channel_tables.h"

namespace {

// Supply 42: 500 V into 10 Mohm (51 uA with its standing 1 uA), 700 V in mode I (72 uA), off
// (0 V, 3 uA). No reading of one readout is that of another.
const std::array<QString, 6> kReadings42 = {"500", "700", "0", "51", "72", "3"};

using pz4::testing_support::simControl;
using pz4::testing_support::simMisaddressed;

QTemporaryDir* scratch = nullptr;

QString wireLogPath() {
    return scratch->filePath("wire.log");
}

int soakSeconds() {
    const QByteArray text = qgetenv("PZ4_SOAK_SECONDS");
    return text.isEmpty() ? 60 : text.toInt();
}

}  // namespace

class LiveWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        dlg = std::make_unique<pz4::ui::CPZ4_ReadOutDlg>();
        dlg->OnInitDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        // No window manager on the virtual display gives it the focus; the window takes it.
        dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
        QCOMPARE(dlg->serialBox()->currentText(), QString("42"));
    }

    // The wire misbehaves in turn: LFs lag their CRs, bytes come unasked, replies come late.
    // Every readout shows its own reading or nothing, all the time.
    void readoutsStayTrueOnAnUnkindWire() {
        for (int i = 0; i < 6; ++i) {
            // The supply ramps up from 0 V first; from then on the readings stand still.
            QTRY_COMPARE_WITH_TIMEOUT(text(IDC_VOLTAGE1 + i), kReadings42[static_cast<size_t>(i)],
                                      20000);
        }
        const QByteArray faults[] = {"lflag 42 30", "stray 42 58", "lflag 42 0",
                                     "late 42 700", "late 42 0",   "stray 42 0a58",
                                     "lflag 42 12", "stray 42 -",  "lflag 42 0"};
        QElapsedTimer timer;
        timer.start();
        std::size_t next = 0;
        int looks = 0;
        const qint64 limitMs = soakSeconds() * 1000LL;
        while (timer.elapsed() < limitMs) {
            if (timer.elapsed() > static_cast<qint64>(next + 1) * limitMs / 12 &&
                next < std::size(faults)) {
                QCOMPARE(simControl(faults[next++].constData()), 0);
            }
            for (int i = 0; i < 6; ++i) {
                const QString shown = text(IDC_VOLTAGE1 + i);
                QVERIFY2(shown.isEmpty() || shown == kReadings42[static_cast<size_t>(i)],
                         qPrintable(QString("readout %1 shows %2").arg(i).arg(shown)));
            }
            ++looks;
            QTest::qWait(20);
        }
        QVERIFY(looks > soakSeconds() * 10);
        QCOMPARE(simMisaddressed(), 0);
        // With the wire kind again, everything is shown.
        for (int i = 0; i < 6; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(text(IDC_VOLTAGE1 + i), kReadings42[static_cast<size_t>(i)],
                                      10000);
        }
    }

    // Back and forth between the two supplies ten times, typing values in each: every value
    // confirmed reaches the supply it was typed for, once, and no command names a supply on
    // another's wire.
    void switchingSuppliesWhileTyping() {
        auto* field = dlg->setField(0);
        QStringList mustArrive;  // "<device> <value>": confirmed with Enter, waited for
        QStringList mayArrive;   // confirmed by leaving the field just before a switch
        for (int i = 0; i < 10; ++i) {
            const QString target = i % 2 == 0 ? "1234" : "42";
            QTest::mouseClick(dlg->serialBox(), Qt::LeftButton);
            emit dlg->serialBox()->activated(dlg->serialBox()->findText(target));
            QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 10000);
            QTest::mouseClick(field, Qt::LeftButton);
            QVERIFY(field->hasFocus());
            const QString entered = QString::number(200 + i);
            typeOver(field, entered);
            QTest::keyClick(field, Qt::Key_Return);
            mustArrive << target + " " + entered;
            QTRY_VERIFY_WITH_TIMEOUT(setValuesOnTheWire().contains(target + " " + entered), 5000);
            // A value typed and left as the operator reaches for the list.
            const QString left = QString::number(600 + i);
            typeOver(field, left);
            mayArrive << target + " " + left;
        }
        QTest::mouseClick(dlg->serialBox(), Qt::LeftButton);
        QTest::qWait(1500);

        const QStringList sent = setValuesOnTheWire();
        for (const QString& value : mustArrive) {
            QCOMPARE(sent.count(value), 1);
        }
        for (const QString& value : sent) {
            QVERIFY2(mustArrive.contains(value) || mayArrive.contains(value), qPrintable(value));
            QCOMPARE(sent.count(value), 1);
        }
        QCOMPARE(simMisaddressed(), 0);
    }

    void cleanupTestCase() {
        dlg->close();
        QCOMPARE(pz4::ActiveSession.load(), nullptr);
        dlg.reset();
    }

  private:
    QString text(int id) const { return dlg->readout(id)->text(); }

    static void typeOver(QLineEdit* field, const QString& text) {
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClicks(field, text);
    }

    // The set commands of channel 1 as the supplies received them: "<device> <value>", with
    // the device that received it, whatever serial the command named.
    static QStringList setValuesOnTheWire() {
        QFile log(wireLogPath());
        QStringList out;
        if (!log.open(QIODevice::ReadOnly)) {
            return out;
        }
        for (const QByteArray& line : log.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            // "<ms> <device> PZ4<serial>S <channel>,<value>"
            if (fields.size() == 4 && fields[2].endsWith("S") && fields[3].startsWith("0,")) {
                out << QString::fromLatin1(fields[1] + " " + fields[3].mid(2));
            }
        }
        return out;
    }

    std::unique_ptr<pz4::ui::CPZ4_ReadOutDlg> dlg;
};

int main(int argc, char* argv[]) {
    // The simulated library reads its supplies when first called, so these come first. No
    // noise: a reading is either the one the supply measures or wrong.
    qputenv("PZ4SIM_SUPPLIES", "42=1U@500,1I@700,0U;1234=1U@300,0U,1U@900");
    qunsetenv("PZ4SIM_NOISE");
    QTemporaryDir dir;
    scratch = &dir;
    qputenv("PZ4SIM_LOG", wireLogPath().toLocal8Bit());
    QApplication app(argc, argv);
    LiveWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "live_window_test.moc"
