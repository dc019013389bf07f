#include <QApplication>

#include "ui/pz4_readout_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PZ4_ReadOut"));
    pz4::ui::CPZ4_ReadOutApp theApp;
    theApp.InitInstance();
    return 0;
}
