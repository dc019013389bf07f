#include "history/csv_recorder.h"

#include <cerrno>
#include <system_error>

namespace pz4 {
namespace {

std::FILE* openFile(const std::filesystem::path& path, CsvRecorder::Mode mode) {
    const bool append = mode == CsvRecorder::Mode::Append;
#if defined(_WIN32)
    return _wfopen(path.c_str(), append ? L"a+b" : L"wb");
#else
    return std::fopen(path.c_str(), append ? "a+b" : "wb");
#endif
}

std::string reasonOf(int error) {
    return error != 0 ? std::generic_category().message(error) : "the file could not be written";
}

// The file's size, and whether it ends in a whole line; -1 where it has no size (a device).
std::int64_t sizeOf(std::FILE* file, bool& endsInLine) {
    endsInLine = true;
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long size = std::ftell(file);
    if (size > 0 && std::fseek(file, -1, SEEK_END) == 0) {
        endsInLine = std::fgetc(file) == '\n';
        // Back to the end: an append after a read needs a seek in between.
        std::fseek(file, 0, SEEK_END);
    }
    return size;
}

}  // namespace

CsvRecorder::CsvRecorder(std::FILE* file, bool owned, std::filesystem::path path)
    : file_(file), owned_(owned), path_(std::move(path)) {}

CsvRecorder::~CsvRecorder() {
    close();
}

std::unique_ptr<CsvRecorder> CsvRecorder::open(const std::filesystem::path& path, Mode mode,
                                               std::string& reason) {
    errno = 0;
    std::FILE* file = openFile(path, mode);
    if (file == nullptr) {
        reason = reasonOf(errno);
        return nullptr;
    }
    std::unique_ptr<CsvRecorder> recorder(new CsvRecorder(file, true, path));
    bool endsInLine = true;
    const std::int64_t size = sizeOf(file, endsInLine);
    recorder->goodSize_ = size;
    // A line cut off by an earlier end is closed, so that the rows that follow stay whole.
    const bool ok =
        size > 0 ? endsInLine || recorder->writeLine("\n") : recorder->writeLine(kCsvHeader);
    if (!ok) {
        reason = recorder->reason();
        return nullptr;
    }
    return recorder;
}

std::unique_ptr<CsvRecorder> CsvRecorder::onStream(std::FILE* stream, std::string& reason) {
    std::unique_ptr<CsvRecorder> recorder(new CsvRecorder(stream, false, {}));
    if (!recorder->writeLine(kCsvHeader)) {
        reason = recorder->reason();
        return nullptr;
    }
    return recorder;
}

bool CsvRecorder::write(const WorkerEvent& event) {
    pending_.clear();
    rows_.rowsOf(event, pending_);
    for (const CsvRow& row : pending_) {
        if (!write(row)) {
            return false;
        }
    }
    return !failed_;
}

bool CsvRecorder::write(const CsvRow& row) {
    return writeLine(formatCsvRow(row));
}

bool CsvRecorder::writeLine(std::string_view line) {
    if (failed_ || file_ == nullptr) {
        return false;
    }
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
        fail(errno);
        return false;
    }
    if (goodSize_ >= 0) {
        goodSize_ += static_cast<std::int64_t>(line.size());
    }
    return true;
}

void CsvRecorder::fail(int error) {
    failed_ = true;
    reason_ = reasonOf(error);
    if (owned_) {
        std::fclose(file_);
        // Part of the failed line may have reached the file; what was whole before stays.
        if (goodSize_ >= 0) {
            std::error_code ignored;
            std::filesystem::resize_file(path_, static_cast<std::uintmax_t>(goodSize_), ignored);
        }
    }
    file_ = nullptr;
}

bool CsvRecorder::close() {
    if (file_ == nullptr) {
        return !failed_;
    }
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int flushError = errno;
    const bool closed = !owned_ || std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
        failed_ = true;
        reason_ = reasonOf(flushed ? errno : flushError);
    }
    return flushed && closed;
}

}  // namespace pz4
