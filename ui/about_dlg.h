// The About box: the icon, the program's name and version, and OK.
#pragma once

#include <QDialog>

namespace pz4::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The entry that opens the About box from the window's menu.
inline constexpr const char* kAboutMenuText = "&About PZ4_ReadOut...";

}  // namespace pz4::ui
