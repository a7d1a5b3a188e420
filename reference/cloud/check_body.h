// What the service reads from a check's body: the protocol's JSON object,
// checked field by field so that a bad body gets one clear 400 and never a
// verdict.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace fpcloud {

// The fields a verdict depends on.
struct CheckQuery {
  std::string detection;
  std::string sha256;  // as sent; empty when the check carries no hash
};

// The query, or the reason the body was refused.
using ParsedBody = std::variant<CheckQuery, std::string>;

ParsedBody parseCheckBody(std::string_view body);

}  // namespace fpcloud
