#include <QApplication>

#include "ui/pz4_readout_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PZ4_ReadOut"));
    // The desktop entry's name, so that a desktop shows the window under its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pz4control.pz4_readout"));
    pz4::ui::CPZ4_ReadOutApp theApp;
    theApp.InitInstance();
    return 0;
}
