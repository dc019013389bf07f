#include "ui/pz4_readout_app.h"

#include <QApplication>

#include "ui/app_icon.h"
#include "ui/pz4_readout_dlg.h"

namespace pz4::ui {

bool CPZ4_ReadOutApp::InitInstance() {
    QApplication::setWindowIcon(programIcon());
    {
        CPZ4_ReadOutDlg dlg;
        dlg.DoModal();
    }
    return false;
}

}  // namespace pz4::ui
