#include "ui/pz4_readout_app.h"

#include <QApplication>
#include <QTimer>

#include "ui/app_icon.h"
#include "ui/pz4_readout_dlg.h"

namespace pz4::ui {

bool CPZ4_ReadOutApp::InitInstance() {
    QApplication::setWindowIcon(programIcon());
    {
        CPZ4_ReadOutDlg dlg;
        // --history opens the History window beside the main window, as the demo does.
        if (QCoreApplication::arguments().contains(QStringLiteral("--history"))) {
            QTimer::singleShot(0, &dlg, &CPZ4_ReadOutDlg::OnHistory);
        }
        dlg.DoModal();
    }
    return false;
}

}  // namespace pz4::ui
