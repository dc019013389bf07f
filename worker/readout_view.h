// The window operations the worker uses. Called from the worker's thread; every operation but
// PostCloseRequest returns only when the window has carried it out (ShowError when the operator
// has dismissed its message).
#pragma once

#include <string>
#include <string_view>

namespace pz4 {

// The six readouts; the values are the window's control ids.
enum class Readout : int {
    Voltage1 = 1000,
    Voltage2 = 1001,
    Voltage3 = 1002,
    Current1 = 1003,
    Current2 = 1004,
    Current3 = 1005,
};

inline Readout voltageReadout(int channel) {
    return static_cast<Readout>(1000 + channel);
}
inline Readout currentReadout(int channel) {
    return static_cast<Readout>(1003 + channel);
}

class ReadoutView {
  public:
    virtual ~ReadoutView() = default;

    // Shows a fresh reading; a readout marked stale is fresh again.
    virtual void ShowReading(Readout field, std::string_view text) = 0;
    // The readout's query failed: what it shows is marked stale (drawn greyed, described as
    // "stale") until the next ShowReading or ClearReadings.
    virtual void MarkStale(Readout field) = 0;
    // Empties all six readouts, voltages first, in channel order, and drops their marks.
    virtual void ClearReadings() = 0;
    virtual std::string GetSetFieldText(int channel) = 0;
    virtual void SetSetFieldText(int channel, std::string_view text) = 0;
    // Puts the measured voltage into the channel's set field if the field is empty and the
    // operator is not at it (it has no focus and holds no edit of theirs), in one step on the
    // window's side: a reading must never mix into what the operator is typing.
    virtual void PrefillSetField(int channel, std::string_view text) = 0;
    virtual void SetSetFieldReadOnly(int channel, bool readOnly) = 0;
    // A value the operator confirmed in this field was not set: the field no longer passes for
    // set; it is marked, and described as the reason ("not set: ..."), until the operator types
    // in it again or the worker writes its text.
    virtual void ShowSetFailed(int channel, std::string_view reason) = 0;
    virtual void ResetSerialList() = 0;
    // The list keeps itself sorted, so an entry's place need not be its place in the driver's.
    virtual void AddSerial(std::string_view text) = 0;
    virtual int SerialListCount() = 0;
    // The position in the list of the entry whose text equals text, or -1.
    virtual int FindSerial(std::string_view text) = 0;
    // Selects by position in the list; a position naming no entry leaves none selected. Never
    // changes the session's serial number.
    virtual void SelectSerial(int index) = 0;
    // A modal message with an OK button; returns when the operator has dismissed it.
    virtual void ShowError(std::string_view text) = 0;
    // Asks the window to close, without waiting.
    virtual void PostCloseRequest() = 0;
};

}  // namespace pz4
