// Writes record rows (csv_row.h) to a file or a stream: each line flushed as it is written, so
// that what is on disk is complete up to the last line whatever happens to the program. The
// first failure ends the recording: the reason is kept, a line cut short by it is taken back
// off the file, and nothing is written after it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "history/csv_rows.h"
#include "worker/worker_event.h"

namespace pz4 {

class CsvRecorder {
  public:
    enum class Mode {
        Append,   // after what the file holds; the header only into a new or empty file
        Replace,  // a new file with its header
    };

    // Null when the file cannot be opened or the header not written; reason says why.
    static std::unique_ptr<CsvRecorder> open(const std::filesystem::path& path, Mode mode,
                                             std::string& reason);
    // A stream the caller owns and keeps open (standard output): the header first.
    static std::unique_ptr<CsvRecorder> onStream(std::FILE* stream, std::string& reason);

    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // The event's rows; false once writing has failed.
    bool write(const WorkerEvent& event);
    bool write(const CsvRow& row);
    // Flushes and closes the file; false when the last of it could not be written.
    bool close();

    bool failed() const { return failed_; }
    // Why writing failed, as the operating system says it ("No space left on device").
    const std::string& reason() const { return reason_; }
    const std::filesystem::path& path() const { return path_; }

  private:
    CsvRecorder(std::FILE* file, bool owned, std::filesystem::path path);
    bool writeLine(std::string_view line);
    void fail(int error);

    std::FILE* file_;
    bool owned_;
    std::filesystem::path path_;
    // The size of the file up to its last whole line; -1 for a stream.
    std::int64_t goodSize_ = -1;
    bool failed_ = false;
    std::string reason_;
    CsvRowMaker rows_;
    std::vector<CsvRow> pending_;
};

}  // namespace pz4
