#include "tools/report_formats.h"

namespace fpcheck {

namespace {

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

LineKind skipped(std::string& reason, const char* kind) {
  reason = kind;
  return LineKind::Skipped;
}

const char* clamscanKind(std::string_view line) {
  if (endsWith(line, ": OK")) return "OK";
  if (endsWith(line, ": Empty file")) return "empty file";
  if (endsWith(line, " ERROR") || startsWith(line, "ERROR: ") ||
      startsWith(line, "LibClamAV Error")) {
    return "error";
  }
  if (startsWith(line, "WARNING: ") || startsWith(line, "LibClamAV Warning")) return "warning";
  if (startsWith(line, "----------- SCAN SUMMARY")) return "summary";
  return "other";
}

// A yara rule's identifier, with the namespace that -e puts before it.
bool isRuleName(std::string_view name) {
  if (name.empty() || name.front() == ':' || name.back() == ':' ||
      (name.front() >= '0' && name.front() <= '9')) {
    return false;
  }
  std::size_t colons = 0;
  for (const char c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_';
    if (c == ':') ++colons;
    if (!word && c != ':') return false;
  }
  return colons <= 1;
}

// The length of "[...] " at the start of text (tags, or metadata whose
// quoted texts may hold brackets, spaces and \" escapes), or 0.
std::size_t bracketGroup(std::string_view text) {
  if (!startsWith(text, "[")) return 0;
  bool quoted = false;
  for (std::size_t at = 1; at < text.size(); ++at) {
    const char c = text[at];
    if (quoted) {
      if (c == '\\') {
        ++at;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ']') {
      return at + 1 < text.size() && text[at + 1] == ' ' ? at + 2 : 0;
    }
  }
  return 0;
}

}  // namespace

LineKind parseClamscanLine(std::string_view line, CheckRequest& request, std::string& reason) {
  constexpr std::string_view kFound = " FOUND";
  if (endsWith(line, kFound)) {
    const std::string_view body = line.substr(0, line.size() - kFound.size());
    const std::size_t separator = body.rfind(": ");
    if (separator != std::string_view::npos && separator > 0 && separator + 2 < body.size()) {
      request.path = body.substr(0, separator);
      request.detection = body.substr(separator + 2);
      return LineKind::Request;
    }
  }
  return skipped(reason, clamscanKind(line));
}

LineKind parseYaraLine(std::string_view line, CheckRequest& request, std::string& reason) {
  if (startsWith(line, "0x") && line.find(":$") != std::string_view::npos) {
    return skipped(reason, "string match");
  }
  if (startsWith(line, "error")) return skipped(reason, "error");
  if (startsWith(line, "warning")) return skipped(reason, "warning");
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || !isRuleName(line.substr(0, space))) {
    return skipped(reason, "other");
  }
  std::string_view rest = line.substr(space + 1);
  // Tags (-g) come before metadata (-m); each may be there or not.
  for (int group = 0; group < 2; ++group) {
    const std::size_t length = bracketGroup(rest);
    if (length == 0) break;
    rest.remove_prefix(length);
  }
  if (rest.empty()) return skipped(reason, "other");
  request.detection = line.substr(0, space);
  request.path = rest;
  return LineKind::Request;
}

}  // namespace fpcheck
