// The main window's start and end as an operator meets them: closing by any way at any moment,
// a supply whose firmware cannot answer, and the About box.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

#include "res/resource.h"
#include "ui/my_edit.h"
#include "window_fixture.h"

using pz4::ActiveSession;
using pz4::NO_VALUE;
using pz4::SetRequest;

class WindowLifecycleTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { f.reset(); }

    void closingWhileTypingCommitsNothing() {
        fresh();
        f->attach("42=1U@300,0U,0U");
        f->open();
        auto* field = f->dlg->setField(0);
        QTRY_VERIFY_WITH_TIMEOUT(!field->isReadOnly() && !field->text().isEmpty(), 5000);
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClicks(field, "80");
        // The field loses the focus as the window goes: no confirmation of a half-typed value.
        f->close();
        QCOMPARE(SetRequest[0].load(), NO_VALUE);
        for (const auto& command : f->driver.commands()) {
            QVERIFY(command.find("S 0,") == std::string::npos);
        }
    }

    void firmwareThatCannotAnswerEndsTheProgram() {
        fresh();
        f->attach("42=1U,1U,1U");
        f->driver.withSupply("42", [](auto& s) { s.setFirmwareDigit('A'); });
        f->open();
        QTRY_VERIFY_WITH_TIMEOUT(!f->dlg->isVisible(), 5000);
        QCOMPARE(f->messages, QStringList{"Communication error with PZ4 42.\nMake sure that "
                                          "firmware\n2.13 or higher is installed."});
        QCOMPARE(ActiveSession.load(), nullptr);
        QVERIFY(!pz4::WorkerRunning.load());
        f->dlg.reset();
    }

    void escapeClosesFromTheSinkButEnterNever() {
        fresh();
        f->attach("42");
        f->open();
        QTest::keyClick(f->dlg->focusSink(), Qt::Key_Return);
        QTest::keyClick(f->dlg->focusSink(), Qt::Key_Enter);
        QVERIFY(f->dlg->isVisible());
        QTest::keyClick(f->dlg->focusSink(), Qt::Key_Escape);
        QVERIFY(!f->dlg->isVisible());
        QCOMPARE(ActiveSession.load(), nullptr);
        f->dlg.reset();
    }

    void closingAtAnyMomentEndsCleanly() {
        auto* random = QRandomGenerator::global();
        for (int round = 0; round < 12; ++round) {
            fresh();
            f->attach("42=1U@500,1U,0U;77");
            f->open();
            SetRequest[1] = 123;
            QTest::qWait(static_cast<int>(random->bounded(700)));
            QElapsedTimer timer;
            timer.start();
            f->close();
            QVERIFY2(timer.elapsed() < 2000, "closing took too long");
        }
    }

    void aboutBoxFromTheContextMenu() {
        fresh();
        f->attach("");
        f->open();
        QString entry;
        QString aboutTitle;
        QStringList aboutTexts;
        QTimer::singleShot(200, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || menu->actions().isEmpty()) {
                return;
            }
            entry = menu->actions().last()->text();
            QTimer::singleShot(200, [&] {
                QWidget* about = QApplication::activeModalWidget();
                if (about == nullptr) {
                    return;
                }
                aboutTitle = about->windowTitle();
                for (auto* label : about->findChildren<QLabel*>()) {
                    aboutTexts << label->text();
                }
                QTest::mouseClick(about->findChild<QPushButton*>(), Qt::LeftButton);
            });
            menu->actions().last()->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                f->dlg->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(f->dlg.get(), &event);
        QCOMPARE(entry, QString("&About PZ4_ReadOut..."));
        QCOMPARE(aboutTitle, QString("About PZ4 Control"));
        QVERIFY(aboutTexts.contains("PZ4 Control, Version 1.0"));
        QVERIFY(f->dlg->isVisible());
        f->close();
    }

  private:
    void fresh() {
        f.reset();
        f = std::make_unique<WindowFixture>();
    }

    std::unique_ptr<WindowFixture> f;
};

QTEST_MAIN(WindowLifecycleTest)
#include "window_lifecycle_test.moc"
