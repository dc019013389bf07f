// pz4ctl watch: every pass's readings and the supply's events as they come, in the record's
// CSV format, as JSON lines or as text, until Ctrl-C.
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/json_text.h"
#include "cli/passes.h"
#include "cli/supplies.h"
#include "history/csv_recorder.h"
#include "history/csv_rows.h"
#include "history/iso_time.h"

namespace pz4::cli {
namespace {

// Writes each event as it comes, on the worker's thread; false once standard output is gone
// (a reader that went away).
class Output final : public WorkerEventSink {
  public:
    explicit Output(WatchFormat format) : format_(format) {}

    bool start() {
        if (format_ != WatchFormat::Csv) {
            return true;
        }
        std::string reason;
        csv_ = CsvRecorder::onStream(stdout, reason);
        return csv_ != nullptr;
    }
    bool ok() const { return ok_; }

    void record(const WorkerEvent& event) noexcept override {
        if (!ok_) {
            return;
        }
        if (csv_) {
            ok_ = csv_->write(event);
            return;
        }
        rows_.clear();
        maker_.rowsOf(event, rows_);
        for (const CsvRow& row : rows_) {
            const std::string line = format_ == WatchFormat::Json ? jsonLine(row) : textLine(row);
            ok_ = ok_ && std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
        }
    }

  private:
    static std::string jsonLine(const CsvRow& row) {
        nlohmann::json out;
        out["time"] = localIsoTime(row.wallMs);
        out["serial"] = std::string(row.serial.view());
        out["channel"] =
            row.channel < 0 ? nlohmann::json(nullptr) : nlohmann::json(row.channel + 1);
        out["kind"] = csvKindName(row.kind);
        out["value"] = row.value ? nlohmann::json(*row.value) : nlohmann::json(nullptr);
        out["unit"] = csvUnitName(row.kind);
        out["state"] = stateColumn(row.state, row.mode);
        return jsonText(out) + '\n';
    }
    static std::string textLine(const CsvRow& row) {
        std::string line = localIsoTime(row.wallMs) + "  " + std::string(row.serial.view());
        line += row.channel < 0 ? "     " : "  ch" + std::to_string(row.channel + 1);
        line += "  " + std::string(csvKindName(row.kind));
        if (row.value) {
            line += ' ' + std::to_string(*row.value) + ' ' + std::string(csvUnitName(row.kind));
        }
        const std::string state = stateColumn(row.state, row.mode);
        if (!state.empty()) {
            line += "  (" + state + ')';
        }
        return line + '\n';
    }

    WatchFormat format_;
    bool ok_ = true;
    std::unique_ptr<CsvRecorder> csv_;
    CsvRowMaker maker_;
    std::vector<CsvRow> rows_;
};

}  // namespace

int runWatch(const std::string& wanted, WatchFormat format, unsigned intervalMs,
             SignalStop& signals) {
    Driver driver = openDriver();
    int code = kExitOk;
    const auto serial =
        chooseSupply(*driver.link, driver.kind, wanted, format == WatchFormat::Json, code);
    if (!serial) {
        return code;
    }
    Output output(format);
    if (!output.start()) {
        return kExitError;
    }
    WorkerShared shared;
    SupplyWorker w(std::move(driver.link), *serial, shared, output);
    w.worker().setPassPause(intervalMs);
    const StopHook hook(signals, [&w] { w.requestStop(); });
    const Waited waited =
        runUntil(w, std::chrono::hours(24 * 365 * 100), [&output] { return !output.ok(); });
    if (waited == Waited::Lost) {
        return reportOpenFailure(*w.session().link, *serial);
    }
    return output.ok() ? kExitOk : kExitError;
}

}  // namespace pz4::cli
