// JSON as text for pz4ctl's output and messages.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pz4::cli {

// Bytes that are no UTF-8 (a bridge's description may hold any) become U+FFFD instead of an
// exception.
inline std::string jsonText(const nlohmann::json& value, int indent = -1) {
    return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace pz4::cli
