// The window operations of a worker with no window: pz4ctl takes what it shows from the
// worker's events, so most operations do nothing here. What the worker tells the operator
// (the firmware message) goes to standard error.
#pragma once

#include <string>

#include "worker/readout_view.h"

namespace pz4::cli {

class ConsoleView final : public ReadoutView {
  public:
    void ShowReading(Readout, std::string_view) override {}
    void MarkStale(Readout) override {}
    void ClearReadings() override {}
    std::string GetSetFieldText(int) override { return {}; }
    void SetSetFieldText(int, std::string_view) override {}
    void PrefillSetField(int, std::string_view) override {}
    void SetSetFieldReadOnly(int, bool) override {}
    void ShowSetFailed(int, std::string_view) override {}
    void ResetSerialList() override {}
    void AddSerial(std::string_view) override {}
    int SerialListCount() override { return 0; }
    int FindSerial(std::string_view) override { return -1; }
    void SelectSerial(int) override {}
    void ShowError(std::string_view text) override;
    void PostCloseRequest() override {}
};

}  // namespace pz4::cli
