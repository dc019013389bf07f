// The main window's controls, built from its template in dialog units: the readouts, the set
// fields, the serial-number box, the logo, the History and Record buttons and the focus sink;
// their names for a screen reader, the labels that name them, and F1 for the About box.
#include <QAccessibleWidget>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "ui/control_template.h"
#include "ui/dialog_units.h"
#include "ui/fonts.h"
#include "ui/my_edit.h"
#include "ui/pz4_readout_dlg.h"

namespace pz4::ui {
namespace {

// Qt's own combo box interface names the box on Linux by the item it shows, whatever its
// accessible name: a screen reader would announce the serial-number box as "42". This one takes
// the name and gives the item as the value.
class SerialBoxAccessible : public QAccessibleWidget {
  public:
    explicit SerialBoxAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? box()->currentText() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = box()->isEditable();
        return s;
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction()) {
            box()->showPopup();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

  private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

const char* const kSerialBoxName = "pz4SerialBox";

QAccessibleInterface* serialBoxAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox") && object->objectName() == kSerialBoxName) {
        return new SerialBoxAccessible(static_cast<QComboBox*>(object));
    }
    return nullptr;
}
// Where the History and Record buttons begin, in dialog units.
constexpr int kLogoBottom = 61;

}  // namespace

void CPZ4_ReadOutDlg::buildControls() {
    static const bool serialBoxAccessibleInstalled =
        (QAccessible::installFactory(serialBoxAccessible), true);
    Q_UNUSED(serialBoxAccessibleInstalled);

    const DialogTemplate& t = kMainTemplate;
    QFont dialogFont(QString::fromLatin1(t.fontFace));
    dialogFont.setPointSize(t.fontPoints);
    setFont(dialogFont);
    const DialogUnits du = DialogUnits::of(dialogFont);
    // Controls sit at fixed places; resizing the window moves nothing.
    resize(du.x(t.width), du.y(t.height));

    int voltage = 0;
    int current = 0;
    int set = 0;
    // A screen reader says each field's name; the labels beside it say only "V" or "Ch 1:".
    const auto channelName = [](const char* format, int index) {
        return QString::fromLatin1(format).arg(index + 1);
    };
    std::vector<std::pair<QLabel*, int>> buddies;
    for (const ControlSpec& c : t.controls) {
        const QRect r = du.map(c.x, c.y, c.width, c.height);
        QWidget* widget = nullptr;
        switch (c.kind) {
            case ControlKind::Readout: {
                auto* edit = new QLineEdit(this);
                edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                // Besides the focus rules, read-only shuts the paths that need no keyboard
                // focus (a context menu's Paste, a drop, a middle-click paste): a readout shows
                // only what the supply reported.
                edit->setReadOnly(true);
                edit->installEventFilter(this);
                connect(edit, &QLineEdit::textChanged, this, [this, edit] {
                    // Only a readout that holds the focus gives it away: taking it from a set
                    // field would commit a half-typed value.
                    if (edit->hasFocus()) {
                        moveFocusToSink();
                    }
                });
                if (c.id <= IDC_VOLTAGE3) {
                    edit->setAccessibleName(channelName("Ch %1 voltage", voltage));
                    m_editVoltage[static_cast<std::size_t>(voltage++)] = edit;
                } else {
                    edit->setAccessibleName(channelName("Ch %1 current", current));
                    m_editCurrent[static_cast<std::size_t>(current++)] = edit;
                }
                widget = edit;
                break;
            }
            case ControlKind::Label: {
                auto* label = new QLabel(QString::fromLatin1(c.text), this);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                if (c.buddy >= 0) {
                    buddies.emplace_back(label, c.buddy);
                }
                widget = label;
                break;
            }
            case ControlKind::SerialBox: {
                m_comboSerial = new QComboBox(this);
                m_comboSerial->setObjectName(QString::fromLatin1(kSerialBoxName));
                m_comboSerial->setEditable(true);
                m_comboSerial->setInsertPolicy(QComboBox::NoInsert);
                m_comboSerial->setCompleter(nullptr);
                // Named for itself, not for the serial it shows, and so is its edit part.
                m_comboSerial->setAccessibleName(QStringLiteral("Serial number"));
                m_comboSerial->lineEdit()->setAccessibleName(QStringLiteral("Serial number"));
                connect(m_comboSerial, &QComboBox::activated, this,
                        &CPZ4_ReadOutDlg::onSerialChosen);
                connect(m_comboSerial->lineEdit(), &QLineEdit::textEdited, this,
                        &CPZ4_ReadOutDlg::onSerialEdited);
                m_comboSerial->setGeometry(r.x(), r.y(), r.width(),
                                           m_comboSerial->sizeHint().height());
                widget = m_comboSerial;
                break;
            }
            case ControlKind::Bitmap: {
                auto* picture = new QLabel(this);
                const QPixmap logo(QString::fromLatin1(c.text));
                picture->setPixmap(logo);
                picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                // The picture takes its image's size, whatever the template says, but shows
                // only its upper part, as far as the buttons below it.
                const int below = du.y(kLogoBottom);
                picture->setGeometry(r.x(), r.y(), logo.width(),
                                     std::min(logo.height(), below - r.y()));
                widget = picture;
                break;
            }
            case ControlKind::SetField: {
                auto* field = new CMyEdit(c.id, this);
                field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                field->installEventFilter(this);
                field->setAccessibleName(channelName("Ch %1 set voltage", set));
                m_editSet[static_cast<std::size_t>(set++)] = field;
                widget = field;
                break;
            }
            case ControlKind::FocusSink: {
                // Visible to Qt so that it can hold the focus, but of no size: nobody sees it.
                m_focusSink = new QLineEdit(this);
                m_focusSink->setFrame(false);
                m_focusSink->setGeometry(r.x(), r.y(), 0, 0);
                widget = m_focusSink;
                break;
            }
            case ControlKind::Command: {
                auto* button = new QPushButton(QString::fromLatin1(c.text), this);
                // Clicking it leaves the focus where it is (a half-typed set value stays
                // unconfirmed), and Enter in the window never presses it.
                button->setFocusPolicy(Qt::NoFocus);
                button->setAutoDefault(false);
                button->setFont(SetFieldFont());
                button->setGeometry(r);
                widget = button;
                break;
            }
            case ControlKind::Icon:
            case ControlKind::Button:
                break;
        }
        if (widget == nullptr) {
            continue;
        }
        if (c.kind == ControlKind::Readout || c.kind == ControlKind::Label ||
            c.kind == ControlKind::SetField) {
            widget->setGeometry(r);
        }
        if (c.id >= 0) {
            controls_[c.id] = widget;
        }
    }
    for (CMyEdit* field : m_editSet) {
        field->setNoCommitFocus(m_comboSerial);
    }
    // A label leads a screen reader and its mnemonic to the control it names.
    for (const auto& [label, id] : buddies) {
        label->setBuddy(control(id));
    }
    setContextMenuPolicy(Qt::DefaultContextMenu);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &CPZ4_ReadOutDlg::showAbout);
}

QLineEdit* CPZ4_ReadOutDlg::readout(int controlId) const {
    if (controlId >= IDC_VOLTAGE1 && controlId <= IDC_VOLTAGE3) {
        return m_editVoltage[static_cast<std::size_t>(controlId - IDC_VOLTAGE1)];
    }
    if (controlId >= IDC_CURRENT1 && controlId <= IDC_CURRENT3) {
        return m_editCurrent[static_cast<std::size_t>(controlId - IDC_CURRENT1)];
    }
    return nullptr;
}

QWidget* CPZ4_ReadOutDlg::control(int controlId) const {
    const auto it = controls_.find(controlId);
    return it == controls_.end() ? nullptr : it->second;
}

}  // namespace pz4::ui
