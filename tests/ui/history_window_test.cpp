// The History window and the record as the operator meets them: opening the window, what its
// plot shows of a gap and a set value, and recording to a file, in any locale and when the file
// cannot take it.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <fstream>

#include "history/plot_frame.h"
#include "res/resource.h"
#include "tests/support/os.h"
#include "ui/history_keeper.h"
#include "ui/history_plot.h"
#include "ui/history_window.h"
#include "ui/my_edit.h"
#include "window_fixture.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <csignal>
#endif

using pz4::testing_support::setEnv;
using pz4::testing_support::unsetEnv;

class HistoryWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() {
        f.reset();
        unsetEnv("PZ4_RECORD");
    }

    void opensWithCtrlHAndFromItsButtonBelowTheLogo() {
        f->attach("42;77");
        f->open();
        QTest::keyClick(f->dlg.get(), Qt::Key_H, Qt::ControlModifier);
        QVERIFY(f->dlg->historyWindow() != nullptr);
        QTRY_VERIFY(f->dlg->historyWindow()->isVisible());
        QCOMPARE(f->dlg->historyWindow()->windowTitle(), QString("PZ4 History - 42"));
        f->dlg->historyWindow()->close();
        // The button, below the logo, opens it again; choosing a supply retitles it.
        auto* button = static_cast<QPushButton*>(f->dlg->control(IDC_HISTORY));
        QCOMPARE(button->text(), QString("History..."));
        const QRect logo = logoGeometry();
        QVERIFY(logo.isValid());
        QVERIFY(button->geometry().top() >= logo.bottom());
        QVERIFY(button->geometry().left() <= logo.right());
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(f->dlg->historyWindow()->isVisible());
        emit f->dlg->serialBox()->activated(1);
        QCOMPARE(f->dlg->historyWindow()->windowTitle(), QString("PZ4 History - 77"));
        f->close();
    }

    void showsAGapAndASetStep() {
        f->attach("42=1U@500,0U,0U");
        f->open();
        auto* field = f->dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly() && !field->text().isEmpty(), 5000);
        field->setText("600");
        field->ParseAndNotify();
        QTRY_VERIFY_WITH_TIMEOUT(f->sent("PZ442S 0,600"), 5000);
        // The supply falls silent for a while: no reading comes, and none may be made up.
        f->driver.withFaults("42", [](auto& faults) { faults.silent = true; });
        QTest::qWait(1500);
        f->driver.withFaults("42", [](auto& faults) { faults.silent = false; });
        QTest::keyClick(f->dlg.get(), Qt::Key_H, Qt::ControlModifier);
        auto* plot = f->dlg->historyWindow()->plot();
        plot->setSpan(60'000);
        QTRY_VERIFY_WITH_TIMEOUT(gapAfterReadings(plot->frame().channels[0].voltage), 10000);
        const auto& steps = plot->frame().channels[0].steps;
        QCOMPARE(steps.size(), std::size_t{1});
        QCOMPARE(steps[0].value, 600);
        QVERIFY(plot->frame().channels[1].steps.empty());
        f->close();
    }

    void recordsWithADecimalPointInAnyLocale() {
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
            QSKIP("the de_DE.UTF-8 locale is not installed (scripts/deps installs it)");
        }
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        auto env = f->environment();
        env.chooseSaveFile = [&](const QString&, const QString& suggested, const QString&) {
            suggestedName_ = suggested;
            return path;
        };
        f->attach("42=1U@500,1I@300,0U");
        f->open(env);
        auto* record = static_cast<QPushButton*>(f->dlg->control(IDC_RECORD));
        QCOMPARE(record->text(), QString("Record..."));
        QTest::mouseClick(record, Qt::LeftButton);
        QCOMPARE(record->text(), QString("Stop recording"));
        QVERIFY(record->toolTip().contains(QDir::toNativeSeparators(path)));
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(path).size() > 12, 10000);
        QTest::mouseClick(record, Qt::LeftButton);
        QCOMPARE(record->text(), QString("Record..."));
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
        QVERIFY(QFileInfo(suggestedName_).fileName().startsWith("pz4-42-"));
        const QStringList rows = rowsOf(path);
        QCOMPARE(rows.front(), QString("time,serial,channel,kind,value,unit,state"));
        const QRegularExpression row(
            R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,42,[123]?,[a-z-]+,-?\d*,(V|uA)?,[a-zA-Z ]*$)");
        for (const QString& r : rows.mid(1)) {
            QVERIFY2(row.match(r).hasMatch(), qPrintable(r));
        }
        QVERIFY(rows.filter(",1,voltage,").size() > 0);
        QVERIFY(rows.filter(",2,current,").size() > 0);
        QVERIFY(rows.filter(",2,status,,,on I").size() == 1);
        f->close();
    }

    void aFileThatCannotBeWrittenIsToldAndPollingGoesOn_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::newRow("chosen") << "chosen"
                                << "Cannot record to ";
        QTest::newRow("PZ4_RECORD") << "environment"
                                    << "Cannot record to ";
#if defined(__linux__)
        QTest::newRow("full disk while recording") << "full"
                                                   << "Recording to ";
#endif
    }
    void aFileThatCannotBeWrittenIsToldAndPollingGoesOn() {
        QFETCH(QString, how);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = how == "full" ? dir.filePath("run.csv") : dir.filePath("no/run.csv");
        auto env = f->environment();
        env.chooseSaveFile = [&](const QString&, const QString&, const QString&) { return path; };
        if (how == "environment") {
            setEnv("PZ4_RECORD", path.toLocal8Bit().constData());
        }
        f->attach("42=1U@500,0U,0U");
        f->open(env);
        auto* record = static_cast<QPushButton*>(f->dlg->control(IDC_RECORD));
        if (how != "environment") {
            QTest::mouseClick(record, Qt::LeftButton);
        }
#if defined(__linux__)
        rlimit limit{};
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &limit);
        if (how == "full") {
            QTRY_VERIFY_WITH_TIMEOUT(rowsOf(path).size() > 3, 5000);
            const rlimit small{static_cast<rlim_t>(QFileInfo(path).size() + 10), limit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
        }
#endif
        QTRY_COMPARE_WITH_TIMEOUT(f->messages.size(), 1, 5000);
#if defined(__linux__)
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, previous);
#endif
        QVERIFY2(f->messages.front().startsWith(message + QDir::toNativeSeparators(path)),
                 qPrintable(f->messages.front()));
        QCOMPARE(record->text(), QString("Record..."));
        QVERIFY(!f->dlg->historyKeeper().recording());
        // What was written stays, whole lines only.
        for (const QString& r : rowsOf(path)) {
            QVERIFY(r.startsWith("time,") || r.count(',') == 6);
        }
        const auto commands = f->driver.commands().size();
        QTRY_VERIFY_WITH_TIMEOUT(f->driver.commands().size() > commands + 4, 5000);
        f->close();
    }

  private:
    QRect logoGeometry() const {
        for (auto* label : f->dlg->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull()) {
                return label->geometry();
            }
        }
        return {};
    }

    // Readings on both sides of a gap: a point after the first that starts one.
    static bool gapAfterReadings(const std::vector<pz4::TracePoint>& trace) {
        return std::any_of(trace.begin() + (trace.empty() ? 0 : 1), trace.end(),
                           [](const pz4::TracePoint& p) { return p.gapBefore; });
    }

    static QStringList rowsOf(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    std::unique_ptr<WindowFixture> f;
    QString suggestedName_;
};

QTEST_MAIN(HistoryWindowTest)
#include "history_window_test.moc"
