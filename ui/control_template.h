// Dialog templates as data: every control with its id, kind, text and rectangle in dialog
// units, in tab order. The windows build their controls from these tables.
#pragma once

#include <span>

namespace pz4::ui {

enum class ControlKind {
    Readout,    // a reading: bordered, right-aligned, kept out of the operator's reach
    Label,      // a plain left-aligned text
    SerialBox,  // drop-down list with an edit part, sorted
    Bitmap,     // a picture that takes its image's size
    SetField,   // a set-value entry field
    FocusSink,  // the invisible control that takes the focus nobody may have
    Icon,       // the program icon
    Button,     // a default push button
    Command,    // a push button that takes neither the focus nor the Enter key
};

struct ControlSpec {
    int id;  // -1 for controls nobody addresses
    ControlKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    int buddy = -1;           // a label's: the control it names, where its mnemonic leads
};

struct DialogTemplate {
    int resourceId;
    const char* title;
    int width, height;  // dialog units
    const char* fontFace;
    int fontPoints;
    std::span<const ControlSpec> controls;
};

extern const DialogTemplate kMainTemplate;   // IDD_MAIN
extern const DialogTemplate kAboutTemplate;  // IDD_ABOUTBOX

}  // namespace pz4::ui
