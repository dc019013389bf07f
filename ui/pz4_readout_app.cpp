#include "ui/pz4_readout_app.h"

#include <QApplication>
#include <QTimer>

#include "platform/environment.h"
#include "ui/app_icon.h"
#include "ui/pz4_readout_dlg.h"

namespace pz4::ui {

bool CPZ4_ReadOutApp::InitInstance() {
    QApplication::setWindowIcon(programIcon());
    {
        CPZ4_ReadOutDlg dlg;
        // PZ4_HISTORY=1 opens the History window beside the main window, as the demo does;
        // like the rest of the program's switches it comes from the environment.
        if (platform::environmentText("PZ4_HISTORY") == "1") {
            QTimer::singleShot(0, &dlg, &CPZ4_ReadOutDlg::OnHistory);
        }
        dlg.DoModal();
    }
    return false;
}

}  // namespace pz4::ui
