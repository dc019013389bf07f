// A trace of what crosses the wire, for problems that only show in the field: every driver call
// that moves or discards bytes, one line each, with a millisecond time stamp and the bytes
// escaped. Switched on by PZ4_TRACE=<file>; the link keeps no trace at all otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace pz4 {

// The bytes as a quoted C-style text: printable ASCII as it is, \r \n \t \\ \" by name, every
// other byte as \xhh. One line, whatever the bytes hold.
std::string escapedBytes(std::string_view bytes);

class WireTrace {
  public:
    // A trace file that reaches this size is moved to "<file>.1" (replacing an older one) and
    // started afresh, so that a noisy line cannot fill the disk.
    static constexpr std::uint64_t kRotateBytes = 64ull << 20;

    // Appends to the regular file at path, creating it if missing; never blocks at the open (a
    // FIFO, a device or a directory is refused). Null when it cannot trace there, with the
    // reason in whyNot.
    static std::unique_ptr<WireTrace> open(const char* path, std::string* whyNot = nullptr,
                                           std::uint64_t rotateAt = kRotateBytes);
    // The file named by PZ4_TRACE; null when the variable is unset or empty. The first call of
    // a process says on standard error where it traces, or why it cannot.
    static std::unique_ptr<WireTrace> fromEnvironment();
    ~WireTrace();

    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // "<tickMs> <event> <detail>"; flushed at once, so a crash loses nothing.
    void record(std::uint64_t tickMs, std::string_view event, std::string_view detail);

  private:
    WireTrace(std::FILE* file, std::string path, std::uint64_t size, std::uint64_t rotateAt)
        : file_(file), path_(std::move(path)), size_(size), rotateAt_(rotateAt) {}
    // Moves the full file aside and starts a new one; false when tracing must stop.
    bool rotate();

    std::FILE* file_;
    std::string path_;
    std::uint64_t size_;
    std::uint64_t rotateAt_;
};

}  // namespace pz4
