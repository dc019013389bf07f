// A trace of what crosses the wire, for problems that only show in the field: every driver call
// that moves or discards bytes, one line each, with a millisecond time stamp and the bytes
// escaped. Switched on by PZ4_TRACE=<file>; the link keeps no trace at all otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace pz4 {

// The bytes as a quoted C-style text: printable ASCII as it is, \r \n \t \\ \" by name, every
// other byte as \xhh. One line, whatever the bytes hold.
std::string escapedBytes(std::string_view bytes);

class WireTrace {
  public:
    // Appends to the file at path; null when it cannot be opened.
    static std::unique_ptr<WireTrace> open(const char* path);
    // The file named by PZ4_TRACE; null when the variable is unset or empty.
    static std::unique_ptr<WireTrace> fromEnvironment();
    ~WireTrace();

    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // "<tickMs> <event> <detail>"; flushed at once, so a crash loses nothing.
    void record(std::uint64_t tickMs, std::string_view event, std::string_view detail);

  private:
    explicit WireTrace(std::FILE* file) : file_(file) {}
    std::FILE* file_;
};

}  // namespace pz4
