#include "link/wire_trace.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#if defined(_WIN32)
#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/environment.h"

namespace pz4 {

std::string escapedBytes(std::string_view bytes) {
    std::string out = "\"";
    out.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (c >= ' ' && c < 0x7F) {
                    out += c;
                } else {
                    std::array<char, 5> hex;
                    std::snprintf(hex.data(), hex.size(), "\\x%02x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += hex.data();
                }
        }
    }
    out += '"';
    return out;
}

namespace {

// Opens path for appending, a regular file only, without ever blocking; null with the reason.
std::FILE* openRegular(const char* path, std::string& whyNot, std::uint64_t& size) {
#if defined(_WIN32)
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        whyNot = "not a regular file";
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "ab");
    if (file == nullptr) {
        whyNot = std::strerror(errno);
        return nullptr;
    }
    const auto length = std::filesystem::file_size(path, ec);
    size = ec ? 0 : static_cast<std::uint64_t>(length);
    return file;
#else
    // Non-blocking, so that a FIFO without a reader cannot hold the program at its start.
    const int fd =
        ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        whyNot = errno == ENXIO ? "not a regular file" : std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        whyNot = "not a regular file";
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "a");
    if (file == nullptr) {
        whyNot = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return file;
#endif
}

// The time stamps count from an arbitrary start; the header ties them to the clock on the wall.
std::uint64_t writeHeader(std::FILE* file) {
    std::array<char, 32> when{};
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) {
        std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S", local);
    }
    const int written = std::fprintf(file, "# PZ4 Control wire trace, started %s\n", when.data());
    std::fflush(file);
    return written > 0 ? static_cast<std::uint64_t>(written) : 0;
}

}  // namespace

std::unique_ptr<WireTrace> WireTrace::open(const char* path, std::string* whyNot,
                                           std::uint64_t rotateAt) {
    std::string reason;
    std::uint64_t size = 0;
    std::FILE* file = openRegular(path, reason, size);
    if (file == nullptr) {
        if (whyNot != nullptr) {
            *whyNot = reason;
        }
        return nullptr;
    }
    size += writeHeader(file);
    return std::unique_ptr<WireTrace>(new WireTrace(file, path, size, rotateAt));
}

std::unique_ptr<WireTrace> WireTrace::fromEnvironment() {
    static std::atomic<bool> announced{false};
    const std::string path = platform::environmentText("PZ4_TRACE");
    if (path.empty()) {
        return nullptr;
    }
    std::string whyNot;
    auto trace = open(path.c_str(), &whyNot);
    if (!announced.exchange(true)) {
        if (trace) {
            std::fprintf(stderr, "PZ4 Control: tracing the wire to %s\n", path.c_str());
        } else {
            std::fprintf(stderr, "PZ4 Control: cannot trace the wire to %s: %s\n", path.c_str(),
                         whyNot.c_str());
        }
    }
    return trace;
}

WireTrace::~WireTrace() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool WireTrace::rotate() {
    std::fclose(file_);
    file_ = nullptr;
    const std::string old = path_ + ".1";
    std::remove(old.c_str());  // Windows' rename does not replace
    std::rename(path_.c_str(), old.c_str());
    std::string whyNot;
    file_ = openRegular(path_.c_str(), whyNot, size_);
    if (file_ == nullptr) {
        return false;
    }
    size_ += writeHeader(file_);
    return true;
}

void WireTrace::record(std::uint64_t tickMs, std::string_view event, std::string_view detail) {
    if (file_ == nullptr) {
        return;  // the file could not be started again after a rotation
    }
    if (size_ >= rotateAt_ && !rotate()) {
        return;
    }
    const int written =
        std::fprintf(file_, "%llu %.*s %.*s\n", static_cast<unsigned long long>(tickMs),
                     static_cast<int>(event.size()), event.data(), static_cast<int>(detail.size()),
                     detail.data());
    std::fflush(file_);
    size_ += written > 0 ? static_cast<std::uint64_t>(written) : 0;
}

}  // namespace pz4
