#pragma once

#include <QIcon>

namespace pz4::ui {

// The program icon in all the sizes the resources carry.
QIcon programIcon();

}  // namespace pz4::ui
