// The rules of the reference SDK and the reference cloud service: which
// detections are false positives.
//
// A rules file is UTF-8 text, one rule a line:
//
//   <verdict> <detection> [<sha-256>]
//
// verdict    fp (the detection is a false positive) or tp (a true positive:
//            the detection stands).
// detection  the detection name exactly, or a pattern in which each * stands
//            for any run of characters, none included. Case matters.
// sha-256    optional, 64 hexadecimal digits in either case: the rule then
//            applies only to checks that carry this hash.
//
// Fields are separated by spaces or tabs, so a detection name cannot hold
// either. Blank lines and everything from a field that starts with # to the
// end of the line are ignored. The first rule that applies decides; when none
// does, the detection is not a false positive.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vfpcsdk {

struct Rule {
  bool falsePositive = false;
  std::string pattern;
  std::string hash;  // lower case; empty: any hash, none included
  std::size_t line = 0;
};

// A line the parser refused, with the reason.
struct RuleError {
  std::size_t line = 0;
  std::string reason;
};

class RuleSet {
 public:
  explicit RuleSet(std::vector<Rule> rules) : rules_(std::move(rules)) {}

  // The first rule that applies to the detection name and hash (the hash in
  // either case, empty when the check carries none), or null.
  const Rule* find(std::string_view detection, std::string_view hash) const;

  std::size_t size() const noexcept { return rules_.size(); }

 private:
  std::vector<Rule> rules_;
};

struct ParsedRules {
  std::vector<Rule> rules;
  std::vector<RuleError> errors;  // every bad line, in order
};

// Reads the whole stream; a leading UTF-8 byte order mark and line ends of
// either kind are accepted.
ParsedRules parseRules(std::istream& text);

// Whether name matches pattern, where each * stands for any run of
// characters.
bool matchesPattern(std::string_view pattern, std::string_view name);

// Whether text is a SHA-256 in hexadecimal: 64 digits of either case.
bool isSha256(std::string_view text);

}  // namespace vfpcsdk
