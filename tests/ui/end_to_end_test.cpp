// The whole program in one process: the window loads the simulated driver library by its
// normal name, as it would load FTDI's, and an operator reads, sets, unplugs and closes.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "link/d2xx.h"
#include "platform/library.h"
#include "protocol/device_session.h"
#include "res/resource.h"
#include "tests/support/os.h"
#include "tests/ui/sim_library.h"
#include "ui/my_edit.h"
#include "ui/pz4_readout_dlg.h"
#include "worker/channel_tables.h"

namespace {

QTemporaryDir* scratch = nullptr;

QString wireLogPath() {
    return scratch->filePath("wire.log");
}

// Drives the simulated library the window has loaded.
using pz4::testing_support::simControl;

bool wireLogHas(const QString& command) {
    QFile log(wireLogPath());
    if (!log.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.endsWith(" " + command.toLatin1())) {
            return true;
        }
    }
    return false;
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        dlg = std::make_unique<pz4::ui::CPZ4_ReadOutDlg>();
        dlg->OnInitDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    }

    void readingsAppear() {
        QCOMPARE(dlg->serialBox()->currentText(), QString("42"));
        QTRY_VERIFY_WITH_TIMEOUT(!text(IDC_VOLTAGE1).isEmpty(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!text(IDC_CURRENT2).isEmpty(), 5000);
        QVERIFY(wireLogHas("PZ442GU"));
        QVERIFY(wireLogHas("PZ442GSS"));
    }

    void enteredValueGoesOnTheWireAndTheReadoutFollows() {
        auto* field = dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly(), 5000);
        QTest::mouseClick(field, Qt::LeftButton);
        QVERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClicks(field, "800");
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(wireLogHas("PZ442S 0,800"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(text(IDC_VOLTAGE1), QString("800"), 15000);
    }

    void unpluggingClearsTheReadouts() {
        QCOMPARE(simControl("unplug 42"), 0);
        for (int id = IDC_VOLTAGE1; id <= IDC_CURRENT3; ++id) {
            QTRY_VERIFY_WITH_TIMEOUT(text(id).isEmpty(), 15000);
        }
    }

    void closeBoxEndsCleanly() {
        QElapsedTimer timer;
        timer.start();
        dlg->close();
        QVERIFY(!dlg->isVisible());
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(pz4::ActiveSession.load(), nullptr);
        QVERIFY(!pz4::WorkerRunning.load());
        dlg.reset();
        // The session unloaded the driver library with itself.
        QVERIFY(!pz4::testing_support::libraryIsLoaded(pz4::kDriverLibraryName));
    }

  private:
    QString text(int id) const { return dlg->readout(id)->text(); }

    std::unique_ptr<pz4::ui::CPZ4_ReadOutDlg> dlg;
};

int main(int argc, char* argv[]) {
    QTemporaryDir dir;
    scratch = &dir;
    // The simulated library reads its supplies when first called, so these come first.
    qputenv("PZ4SIM_SUPPLIES", "42=1U@400,1U@600,0U;1234567=1U,2U,1U");
    qputenv("PZ4SIM_LOG", wireLogPath().toLocal8Bit());
    QApplication app(argc, argv);
    EndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "end_to_end_test.moc"
