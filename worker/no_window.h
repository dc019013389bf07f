// A worker with no window: every window operation goes nowhere. For front ends that take what
// the worker saw from its events instead (pz4ctl, tools that draw the history).
#pragma once

#include <string>
#include <string_view>

#include "worker/readout_view.h"

namespace pz4 {

class NoWindow : public ReadoutView {
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
    void ShowError(std::string_view) override {}
    void PostCloseRequest() override {}
};

}  // namespace pz4
