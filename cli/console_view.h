// The window operations of a worker with no window: pz4ctl takes what it shows from the
// worker's events. What the worker tells the operator (the firmware message) goes to standard
// error.
#pragma once

#include "worker/no_window.h"

namespace pz4::cli {

class ConsoleView final : public NoWindow {
  public:
    void ShowError(std::string_view text) override;
};

}  // namespace pz4::cli
