#include "link/wire_trace.h"

#include <array>
#include <ctime>

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

std::unique_ptr<WireTrace> WireTrace::open(const char* path) {
    std::FILE* file = std::fopen(path, "a");
    if (file == nullptr) {
        return nullptr;
    }
    // The time stamps count from an arbitrary start; the header ties them to the clock on the
    // wall.
    std::array<char, 32> when{};
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) {
        std::strftime(when.data(), when.size(), "%Y-%m-%d %H:%M:%S", local);
    }
    std::fprintf(file, "# PZ4 Control wire trace, started %s\n", when.data());
    std::fflush(file);
    return std::unique_ptr<WireTrace>(new WireTrace(file));
}

std::unique_ptr<WireTrace> WireTrace::fromEnvironment() {
    const std::string path = platform::environmentText("PZ4_TRACE");
    return path.empty() ? nullptr : open(path.c_str());
}

WireTrace::~WireTrace() {
    std::fclose(file_);
}

void WireTrace::record(std::uint64_t tickMs, std::string_view event, std::string_view detail) {
    std::fprintf(file_, "%llu %.*s %.*s\n", static_cast<unsigned long long>(tickMs),
                 static_cast<int>(event.size()), event.data(), static_cast<int>(detail.size()),
                 detail.data());
    std::fflush(file_);
}

}  // namespace pz4
