#include "ui/control_template.h"

#include <array>

#include "res/resource.h"

namespace pz4::ui {
namespace {

using K = ControlKind;

constexpr std::array kMainControls = {
    ControlSpec{IDC_VOLTAGE1, K::Readout, "", 41, 12, 29, 11},
    ControlSpec{IDC_VOLTAGE2, K::Readout, "", 81, 12, 29, 11},
    ControlSpec{IDC_VOLTAGE3, K::Readout, "", 121, 12, 29, 11},
    ControlSpec{-1, K::Label, "V", 71, 13, 8, 8, IDC_VOLTAGE1},
    ControlSpec{-1, K::Label, "V", 111, 13, 8, 8, IDC_VOLTAGE2},
    ControlSpec{-1, K::Label, "V", 151, 13, 8, 8, IDC_VOLTAGE3},
    ControlSpec{IDC_CURRENT1, K::Readout, "", 41, 42, 29, 11},
    ControlSpec{IDC_CURRENT2, K::Readout, "", 81, 42, 29, 11},
    ControlSpec{IDC_CURRENT3, K::Readout, "", 121, 42, 29, 11},
    ControlSpec{-1, K::Label, "uA", 71, 43, 8, 8, IDC_CURRENT1},
    ControlSpec{-1, K::Label, "uA", 111, 43, 8, 8, IDC_CURRENT2},
    ControlSpec{-1, K::Label, "uA", 151, 43, 8, 8, IDC_CURRENT3},
    ControlSpec{-1, K::Label, "Ch 1:", 41, 2, 18, 8, IDC_SET1},
    ControlSpec{-1, K::Label, "Ch 2:", 81, 2, 18, 8, IDC_SET2},
    ControlSpec{-1, K::Label, "Ch 3:", 121, 2, 18, 8, IDC_SET3},
    ControlSpec{IDC_SERIAL, K::SerialBox, "", 3, 12, 30, 48},
    ControlSpec{-1, K::Label, "&SN#", 4, 2, 17, 8, IDC_SERIAL},
    ControlSpec{-1, K::Bitmap, ":/images/logo.png", 5, 27, 30, 28},
    ControlSpec{IDC_SET1, K::SetField, "", 51, 25, 19, 8},
    ControlSpec{IDC_SET2, K::SetField, "", 91, 25, 19, 8},
    ControlSpec{IDC_SET3, K::SetField, "", 131, 25, 19, 8},
    ControlSpec{IDC_SET_UNIT1, K::Label, "V", 71, 26, 8, 8, IDC_SET1},
    ControlSpec{IDC_SET_UNIT2, K::Label, "V", 111, 26, 8, 8, IDC_SET2},
    ControlSpec{IDC_SET_UNIT3, K::Label, "V", 151, 26, 8, 8, IDC_SET3},
    ControlSpec{IDC_SET_LABEL1, K::Label, "set: ", 42, 26, 8, 8, IDC_SET1},
    ControlSpec{IDC_SET_LABEL2, K::Label, "set: ", 82, 26, 8, 8, IDC_SET2},
    ControlSpec{IDC_SET_LABEL3, K::Label, "set: ", 122, 26, 8, 8, IDC_SET3},
    ControlSpec{IDC_FOCUS_SINK, K::FocusSink, "", 1, 21, 18, 12},
    ControlSpec{IDC_HISTORY, K::Command, "History...", 3, 61, 36, 11},
    ControlSpec{IDC_RECORD, K::Command, "Record...", 41, 61, 44, 11},
};

constexpr std::array kAboutControls = {
    ControlSpec{-1, K::Icon, "", 14, 14, 20, 20},
    ControlSpec{-1, K::Label, "PZ4 Control, Version 1.0", 42, 14, 114, 8},
    ControlSpec{-1, K::Label, "For the Quorvin PZ4 supply", 42, 26, 114, 8},
    ControlSpec{1, K::Button, "OK", 132, 45, 50, 14},
};

}  // namespace

const DialogTemplate kMainTemplate{IDD_MAIN, "Quorvin PZ4 Control", 165, 74, "MS Shell Dlg",
                                   18,       kMainControls};

const DialogTemplate kAboutTemplate{IDD_ABOUTBOX,  "About PZ4 Control", 189, 65, "MS Shell Dlg", 8,
                                    kAboutControls};

}  // namespace pz4::ui
