#include "tools/json_lines.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace fpcheck {

namespace {

using Json = nlohmann::ordered_json;

// Paths may hold bytes that are not UTF-8: they are replaced rather than
// failing the line.
std::string dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool readText(const Json& object, const char* field, std::string& text, std::string& reason) {
  const Json& value = object.at(field);
  if (!value.is_string()) {
    reason = std::string("\"") + field + "\" must be text";
    return false;
  }
  text = value.get<std::string>();
  return true;
}

bool readOptions(const Json& options, CheckRequest& request, std::string& reason) {
  if (!options.is_object()) {
    reason = "\"options\" must be an object of key: true/false, whole number or text";
    return false;
  }
  for (const auto& [key, value] : options.items()) {
    if (value.is_boolean()) {
      request.bools.emplace_back(key, value.get<bool>());
    } else if (value.is_number_integer() &&
               (value.is_number_unsigned()
                    ? value.get<std::uint64_t>() <=
                          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                    : true)) {
      request.ints.emplace_back(key, value.get<std::int64_t>());
    } else if (value.is_string()) {
      request.strings.emplace_back(key, value.get<std::string>());
    } else {
      reason = "option \"" + key + "\" must be true/false, a whole 64-bit number or text";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string resultLine(const CheckResult& result, std::optional<std::size_t> line) {
  Json json;
  if (line) json["line"] = *line;
  json["path"] = result.path;
  json["input"] = result.memory ? "memory" : "file";
  json["detection"] = result.detection;
  json["falsePositive"] = result.falsePositive ? Json(*result.falsePositive) : Json(nullptr);
  json["status"] = result.status;
  json["statusCode"] = result.statusCode;
  // Microseconds are as fine as a check can be timed here.
  json["milliseconds"] = std::round(result.milliseconds * 1000.0) / 1000.0;
  if (!result.succeeded()) json["error"] = result.error;
  if (const std::string hint = hintFor(result); !hint.empty()) json["hint"] = hint;
  return dump(json);
}

bool parseRequestLine(std::string_view line, CheckRequest& request, std::string& reason) {
  const Json json = Json::parse(line.begin(), line.end(), nullptr, false);
  if (json.is_discarded()) {
    reason = "not a JSON object";
    return false;
  }
  if (!json.is_object()) {
    reason = "a request must be a JSON object";
    return false;
  }
  // Read path and detection first, so that a refused line still names them.
  if (json.contains("path") && json["path"].is_string()) request.path = json["path"].get<std::string>();
  if (json.contains("detection") && json["detection"].is_string()) {
    request.detection = json["detection"].get<std::string>();
  }
  for (const char* required : {"path", "detection"}) {
    if (!json.contains(required)) {
      reason = std::string("\"") + required + "\" is missing";
      return false;
    }
  }
  for (const auto& [field, value] : json.items()) {
    if (field == "path" || field == "detection") {
      std::string ignored;
      if (!readText(json, field.c_str(), ignored, reason)) return false;
    } else if (field == "hash" || field == "extra") {
      std::string text;
      if (!readText(json, field.c_str(), text, reason)) return false;
      (field == "hash" ? request.hash : request.extra) = text;
    } else if (field == "memory") {
      if (!value.is_boolean()) {
        reason = "\"memory\" must be true or false";
        return false;
      }
      request.memory = value.get<bool>();
    } else if (field == "size") {
      if (!value.is_number_unsigned()) {
        reason = "\"size\" must be a whole number of bytes, 0 or more";
        return false;
      }
      request.size = value.get<std::uint64_t>();
    } else if (field == "options") {
      if (!readOptions(value, request, reason)) return false;
    } else {
      reason = "unknown field \"" + field +
               "\" (known: path, detection, hash, extra, memory, size, options)";
      return false;
    }
  }
  if (request.memory && request.size) {
    reason = "\"size\" is for file checks; a memory check's size is the file's length";
    return false;
  }
  return true;
}

std::string informationJson(const PluginInformation& information, const std::string& library) {
  Json json;
  json["name"] = information.name;
  json["type"] = information.type;
  json["id"] = information.id;
  json["version"] = versionText(information.version);
  json["apiVersion"] =
      std::to_string(information.apiMajor) + "." + std::to_string(information.apiMinor);
  json["library"] = library;
  return dump(json);
}

}  // namespace fpcheck
