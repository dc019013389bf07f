#include "history/record_name.h"

#include "history/iso_time.h"

namespace pz4 {

std::string recordFileName(std::string_view serial, std::int64_t wallMs,
                           std::string_view extension) {
    std::string name = "pz4-";
    for (const char c : serial) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    if (!serial.empty()) {
        name += '-';
    }
    name += localFileStamp(wallMs);
    name += '.';
    name += extension;
    return name;
}

}  // namespace pz4
