// Reading the environment: the program's few switches (PZ4_DRIVER, PZ4_TRACE, ...) and the
// simulator's settings come from there.
#pragma once

#include <cstdlib>
#include <string>

namespace pz4::platform {

// The variable's text; empty when it is not set.
inline std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace pz4::platform
