#include "reference/cloud/check_body.h"

#include <nlohmann/json.hpp>

#include "reference/rules/rules.h"

namespace fpcloud {
namespace {

using nlohmann::json;

bool isNonNegativeInteger(const json& value) {
  return value.is_number_unsigned() || (value.is_number_integer() && value.get<std::int64_t>() >= 0);
}

// The reason a present field is refused, or empty.
std::string checkOptions(const json& options) {
  if (!options.is_object()) return "the field \"options\" must be an object";
  for (const auto& [name, value] : options.items()) {
    if (!value.is_boolean() && !value.is_number_integer() && !value.is_string())
      return "the option \"" + name + "\" must be a bool, an integer or a string";
  }
  return {};
}

}  // namespace

ParsedBody parseCheckBody(std::string_view body) {
  // Parsing without exceptions: a discarded value is what a syntax error
  // gives, so nothing else is mistaken for one.
  const json value = json::parse(body.begin(), body.end(), nullptr, false);
  if (value.is_discarded()) return std::string("the body is not JSON");
  if (!value.is_object()) return std::string("the body must be a JSON object");

  const auto field = [&](const char* name) -> const json* {
    const auto found = value.find(name);
    return found == value.end() ? nullptr : &*found;
  };
  const auto missing = [](const char* name) {
    return std::string("the field \"") + name + "\" is missing";
  };

  const json* detection = field("detection");
  if (detection == nullptr) return missing("detection");
  if (!detection->is_string() || detection->get_ref<const std::string&>().empty())
    return std::string("the field \"detection\" must be a non-empty string");

  const json* size = field("size");
  if (size == nullptr) return missing("size");
  if (!isNonNegativeInteger(*size))
    return std::string("the field \"size\" must be a non-negative integer");

  const json* input = field("input");
  if (input == nullptr) return missing("input");
  if (!input->is_string() || (*input != "file" && *input != "memory"))
    return std::string("the field \"input\" must be \"file\" or \"memory\"");

  const json* host = field("host");
  if (host == nullptr) return missing("host");
  if (!host->is_string()) return std::string("the field \"host\" must be a string");

  CheckQuery query{detection->get<std::string>(), {}};
  if (const json* hash = field("sha256")) {
    if (!hash->is_string() || !vfpcsdk::isSha256(hash->get_ref<const std::string&>()))
      return std::string("the field \"sha256\" must be 64 hexadecimal digits");
    query.sha256 = hash->get<std::string>();
  }
  if (const json* extra = field("extra"); extra != nullptr && !extra->is_string())
    return std::string("the field \"extra\" must be a string");
  if (const json* options = field("options")) {
    if (std::string reason = checkOptions(*options); !reason.empty()) return reason;
  }
  return query;
}

}  // namespace fpcloud
