// A ReadoutView that keeps the state a window would show and records every operation as a
// readable line, so a test can compare whole sequences. Thread-safe: a worker thread may call
// it while the test thread reads it.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "worker/readout_view.h"

namespace pz4::test {

class RecordingView final : public ReadoutView {
  public:
    struct SetField {
        std::string text;
        bool readOnly = true;
        std::string notSet;  // why the last confirmed value was not set; empty when it was
    };

    // Lines of the operations that only ask, so that tests can leave them out.
    static bool isQuery(std::string_view line) {
        return line.starts_with("GetSetFieldText") || line.starts_with("SerialListCount") ||
               line.starts_with("FindSerial");
    }

    void ShowReading(Readout field, std::string_view text) override {
        std::lock_guard lock(mutex_);
        readouts_[index(field)] = std::string(text);
        stale_[index(field)] = false;
        record("ShowReading " + std::to_string(static_cast<int>(field)) + " " + shown(text));
    }

    void MarkStale(Readout field) override {
        std::lock_guard lock(mutex_);
        stale_[index(field)] = true;
        record("MarkStale " + std::to_string(static_cast<int>(field)));
    }

    void ClearReadings() override {
        std::lock_guard lock(mutex_);
        readouts_.fill({});
        stale_.fill(false);
        record("ClearReadings");
    }

    std::string GetSetFieldText(int channel) override {
        std::lock_guard lock(mutex_);
        record("GetSetFieldText " + std::to_string(channel));
        return fields_.at(static_cast<std::size_t>(channel)).text;
    }

    void SetSetFieldText(int channel, std::string_view text) override {
        std::lock_guard lock(mutex_);
        fields_.at(static_cast<std::size_t>(channel)).text = std::string(text);
        fields_.at(static_cast<std::size_t>(channel)).notSet.clear();
        record("SetSetFieldText " + std::to_string(channel) + " " + shown(text));
    }

    // Records as the two operations a window without an operator comes to: a look, and the text
    // when the field was empty.
    void PrefillSetField(int channel, std::string_view text) override {
        std::lock_guard lock(mutex_);
        record("GetSetFieldText " + std::to_string(channel));
        auto& field = fields_.at(static_cast<std::size_t>(channel));
        if (field.text.empty()) {
            field.text = std::string(text);
            record("SetSetFieldText " + std::to_string(channel) + " " + shown(text));
        }
    }

    void SetSetFieldReadOnly(int channel, bool readOnly) override {
        std::lock_guard lock(mutex_);
        fields_.at(static_cast<std::size_t>(channel)).readOnly = readOnly;
        record("SetSetFieldReadOnly " + std::to_string(channel) + (readOnly ? " true" : " false"));
    }

    void ShowSetFailed(int channel, std::string_view reason) override {
        std::lock_guard lock(mutex_);
        fields_.at(static_cast<std::size_t>(channel)).notSet = std::string(reason);
        record("ShowSetFailed " + std::to_string(channel) + " " + std::string(reason));
    }

    void ResetSerialList() override {
        std::lock_guard lock(mutex_);
        serials_.clear();
        selected_ = -1;
        record("ResetSerialList");
    }

    // Sorted without regard to case, as a sorted combo box keeps its entries; an entry equal
    // to others goes behind them.
    void AddSerial(std::string_view text) override {
        std::lock_guard lock(mutex_);
        insertSorted(text);
        record("AddSerial " + std::string(text));
    }

    int SerialListCount() override {
        std::lock_guard lock(mutex_);
        record("SerialListCount");
        return static_cast<int>(serials_.size());
    }

    int FindSerial(std::string_view text) override {
        std::lock_guard lock(mutex_);
        record("FindSerial " + shown(text));
        const auto it = std::find(serials_.begin(), serials_.end(), text);
        return it == serials_.end() ? -1 : static_cast<int>(it - serials_.begin());
    }

    void SelectSerial(int index) override {
        std::lock_guard lock(mutex_);
        selected_ = index >= 0 && index < static_cast<int>(serials_.size()) ? index : -1;
        record("SelectSerial " + std::to_string(index));
    }

    void ShowError(std::string_view text) override {
        std::lock_guard lock(mutex_);
        errors_.emplace_back(text);
        record("ShowError " + std::string(text));
    }

    void PostCloseRequest() override {
        std::lock_guard lock(mutex_);
        ++closeRequests_;
        record("PostCloseRequest");
    }

    // Adds a line that is no window operation (for example a command seen on the wire), so
    // that it lands in order among the operations.
    void note(std::string line) {
        std::lock_guard lock(mutex_);
        record(std::move(line));
    }

    // The lines recorded since the last call, queries left out unless asked for.
    std::vector<std::string> takeLines(bool withQueries = false) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> lines;
        for (auto& line : lines_) {
            if (withQueries || !isQuery(line)) {
                lines.push_back(std::move(line));
            }
        }
        lines_.clear();
        return lines;
    }

    // The window's state as the operator would see it. Setting it records nothing: it stands
    // for the window's own initialisation or for what the operator typed.
    std::string readout(Readout field) const {
        std::lock_guard lock(mutex_);
        return readouts_[index(field)];
    }
    bool stale(Readout field) const {
        std::lock_guard lock(mutex_);
        return stale_[index(field)];
    }
    SetField setField(int channel) const {
        std::lock_guard lock(mutex_);
        return fields_.at(static_cast<std::size_t>(channel));
    }
    void typeIntoSetField(int channel, std::string text) {
        std::lock_guard lock(mutex_);
        fields_.at(static_cast<std::size_t>(channel)).text = std::move(text);
    }
    std::vector<std::string> serialList() const {
        std::lock_guard lock(mutex_);
        return serials_;
    }
    // The selected entry's text; empty when none is selected.
    std::string selectedSerial() const {
        std::lock_guard lock(mutex_);
        return selected_ < 0 ? std::string() : serials_[static_cast<std::size_t>(selected_)];
    }
    void presetSerialList(const std::vector<std::string>& serials, std::string_view selected) {
        std::lock_guard lock(mutex_);
        serials_.clear();
        for (const auto& s : serials) {
            insertSorted(s);
        }
        const auto it = std::find(serials_.begin(), serials_.end(), selected);
        selected_ = it == serials_.end() ? -1 : static_cast<int>(it - serials_.begin());
    }
    std::vector<std::string> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    int closeRequests() const {
        std::lock_guard lock(mutex_);
        return closeRequests_;
    }
    // Stops keeping lines (a long run would otherwise grow them without end).
    void setRecording(bool on) {
        std::lock_guard lock(mutex_);
        recording_ = on;
        if (!on) {
            lines_.clear();
        }
    }

  private:
    static std::size_t index(Readout field) {
        return static_cast<std::size_t>(static_cast<int>(field) - 1000);
    }
    static std::string shown(std::string_view text) {
        return text.empty() ? "<empty>" : std::string(text);
    }
    static bool lessNoCase(std::string_view a, std::string_view b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
    }
    void insertSorted(std::string_view text) {
        const auto at = std::upper_bound(
            serials_.begin(), serials_.end(), text,
            [](std::string_view t, const std::string& entry) { return lessNoCase(t, entry); });
        serials_.insert(at, std::string(text));
    }
    void record(std::string line) {
        if (recording_) {
            lines_.push_back(std::move(line));
        }
    }

    mutable std::mutex mutex_;
    std::array<std::string, 6> readouts_{};
    std::array<bool, 6> stale_{};
    std::array<SetField, 3> fields_{};
    std::vector<std::string> serials_;
    int selected_ = -1;
    std::vector<std::string> errors_;
    int closeRequests_ = 0;
    std::vector<std::string> lines_;
    bool recording_ = true;
};

}  // namespace pz4::test
