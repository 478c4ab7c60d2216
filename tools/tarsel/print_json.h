// JSON on stdout, keys in the order the tool adds them.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>

namespace tool {

using Json = nlohmann::ordered_json;

// Bytes that are not UTF-8 (in file names, say) print as U+FFFD.
inline void PrintJson(const Json& json) {
  std::printf("%s\n", json.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
}

}  // namespace tool
