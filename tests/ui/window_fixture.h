// A main window over an in-process simulated driver, with the worker running in real time.
#pragma once

#include <QMessageBox>
#include <QtTest>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/sim_environment.h"
#include "ui/pz4_readout_dlg.h"
#include "worker/channel_tables.h"

struct WindowFixture {
    pz4::sim::SimDriver driver{pz4::platform::systemClock()};
    QStringList messages;
    std::unique_ptr<pz4::ui::CPZ4_ReadOutDlg> dlg;

    // Supplies as the simulator's environment text describes them.
    void attach(const std::string& supplies) {
        pz4::sim::SimSettings settings;
        settings.supplies = supplies;
        pz4::sim::configure(driver, settings);
    }

    pz4::ui::DialogEnvironment environment() {
        pz4::ui::DialogEnvironment env;
        env.makeLink = [this] { return std::make_unique<pz4::FtdiLink>(driver.entries()); };
        env.showMessage = [this](const QString& text) { messages << text; };
        return env;
    }

    void open() { open(environment()); }
    void open(pz4::ui::DialogEnvironment env) {
        dlg = std::make_unique<pz4::ui::CPZ4_ReadOutDlg>(std::move(env));
        dlg->OnInitDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    }

    // Closes as the close box does, and checks the worker and the session are gone.
    void close() {
        if (!dlg) {
            return;
        }
        dlg->close();
        QVERIFY(!dlg->isVisible());
        QCOMPARE(pz4::ActiveSession.load(), nullptr);
        QVERIFY(!pz4::WorkerRunning.load());
        dlg.reset();
    }

    bool sent(const std::string& command) const {
        for (const auto& c : driver.commands()) {
            if (c == command) {
                return true;
            }
        }
        return false;
    }

    QString readoutText(int id) const { return dlg->readout(id)->text(); }

    // The set commands on the wire, each as "<device> <command>".
    QStringList setCommands() const {
        QStringList out;
        for (const auto& e : driver.wireLog()) {
            const QString command = QString::fromLatin1(e.bytes.c_str());
            if (e.kind == pz4::sim::WireKind::Write && command.contains("S ")) {
                out << QString::fromStdString(e.serial) + " " + command;
            }
        }
        return out;
    }

    pz4::DeviceSession& session() const { return *pz4::ActiveSession.load(); }
};
