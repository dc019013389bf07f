// The application: runs the main window modally and ends when it closes.
#pragma once

namespace pz4::ui {

class CPZ4_ReadOutApp {
  public:
    // Builds the main window, runs it, destroys it. False: the program ends afterwards.
    bool InitInstance();
};

}  // namespace pz4::ui
