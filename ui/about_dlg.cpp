#include "ui/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/control_template.h"
#include "ui/dialog_units.h"

namespace pz4::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const DialogTemplate& t = kAboutTemplate;
    setWindowTitle(QString::fromLatin1(t.title));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    QFont font(QString::fromLatin1(t.fontFace));
    font.setPointSize(t.fontPoints);
    setFont(font);
    const DialogUnits du = DialogUnits::of(font);
    setFixedSize(du.x(t.width), du.y(t.height));

    for (const ControlSpec& c : t.controls) {
        const QRect r = du.map(c.x, c.y, c.width, c.height);
        switch (c.kind) {
            case ControlKind::Icon: {
                auto* icon = new QLabel(this);
                icon->setPixmap(programIcon().pixmap(32, 32));
                icon->setGeometry(r.x(), r.y(), 32, 32);
                break;
            }
            case ControlKind::Button: {
                auto* ok = new QPushButton(QString::fromLatin1(c.text), this);
                ok->setDefault(true);
                ok->setGeometry(r);
                connect(ok, &QPushButton::clicked, this, &QDialog::accept);
                ok->setFocus();
                break;
            }
            default: {
                auto* label = new QLabel(QString::fromLatin1(c.text), this);
                label->setTextFormat(Qt::PlainText);
                label->setGeometry(r);
                break;
            }
        }
    }
}

}  // namespace pz4::ui
