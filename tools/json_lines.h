// fpcheck's JSON: one result a line, one batch request a line, and the
// plug-in information.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tools/check_request.h"
#include "tools/plugin_session.h"

namespace fpcheck {

// {"path", "input" ("file" or "memory"), "detection", "falsePositive" (true,
// false, or null when the check failed), "status", "statusCode",
// "milliseconds"} and, for a failure, "error"; with a line number, "line"
// first. No line break inside.
std::string resultLine(const CheckResult& result, std::optional<std::size_t> line = std::nullopt);

// One request line: {"path": text, "detection": text, and optionally
// "hash": text, "extra": text, "memory": bool, "size": number,
// "options": {key: true/false (bool pair), whole number (int pair) or text
// (str pair)}}. Returns false with the reason for anything else; path and
// detection are filled as far as they could be read, for the result line.
bool parseRequestLine(std::string_view line, CheckRequest& request, std::string& reason);

std::string informationJson(const PluginInformation& information, const std::string& library);

}  // namespace fpcheck
