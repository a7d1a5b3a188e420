#include "reference/rules/rules.h"

#include <algorithm>
#include <cctype>

namespace vfpcsdk {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The fields of a line up to a comment.
std::vector<std::string_view> fieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && isBlank(line[at])) ++at;
    if (at == line.size() || line[at] == '#') break;
    const std::size_t start = at;
    while (at < line.size() && !isBlank(line[at])) ++at;
    fields.push_back(line.substr(start, at - start));
  }
  return fields;
}

std::string lowerCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

// The rule of one line, or the reason it is refused.
std::optional<Rule> parseLine(std::string_view line, std::size_t number, std::string& reason) {
  const std::vector<std::string_view> fields = fieldsOf(line);
  if (fields.empty()) return std::nullopt;
  if (fields.size() < 2) {
    reason = "a rule needs a verdict and a detection name: '<fp|tp> <detection> [<sha-256>]'";
    return std::nullopt;
  }
  if (fields.size() > 3) {
    reason = "too many fields: '<fp|tp> <detection> [<sha-256>]' (a detection name holds no spaces)";
    return std::nullopt;
  }
  Rule rule;
  rule.line = number;
  if (fields[0] == "fp") {
    rule.falsePositive = true;
  } else if (fields[0] != "tp") {
    reason = "the verdict '" + std::string(fields[0]) + "' is neither fp nor tp";
    return std::nullopt;
  }
  rule.pattern = fields[1];
  if (fields.size() == 3) {
    if (!isSha256(fields[2])) {
      reason = "'" + std::string(fields[2]) + "' is not a SHA-256 (64 hexadecimal digits)";
      return std::nullopt;
    }
    rule.hash = lowerCase(fields[2]);
  }
  return rule;
}

}  // namespace

bool isSha256(std::string_view text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

bool matchesPattern(std::string_view pattern, std::string_view name) {
  // Greedy matching with one backtrack point: the last * seen absorbs one more
  // character whenever the rest fails. Linear in practice, never exponential.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

const Rule* RuleSet::find(std::string_view detection, std::string_view hash) const {
  const std::string lowerHash = lowerCase(hash);
  for (const Rule& rule : rules_) {
    if (!rule.hash.empty() && rule.hash != lowerHash) continue;
    if (matchesPattern(rule.pattern, detection)) return &rule;
  }
  return nullptr;
}

ParsedRules parseRules(std::istream& text) {
  ParsedRules parsed;
  std::string line;
  std::size_t number = 0;
  while (std::getline(text, line)) {
    ++number;
    std::string_view view(line);
    if (number == 1 && view.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      view.remove_prefix(kByteOrderMark.size());
    }
    if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
    std::string reason;
    if (std::optional<Rule> rule = parseLine(view, number, reason)) {
      parsed.rules.push_back(std::move(*rule));
    } else if (!reason.empty()) {
      parsed.errors.push_back({number, std::move(reason)});
    }
  }
  return parsed;
}

}  // namespace vfpcsdk
