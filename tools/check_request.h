// One check as fpcheck runs it: the request, its run through an instance,
// and the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kesp/kesp.h"

namespace fpcheck {

// The default of --max-memory-bytes.
inline constexpr std::uint64_t kDefaultMaxMemoryBytes = std::uint64_t{64} << 20;

struct CheckRequest {
  std::string path;
  std::string detection;
  std::optional<std::string> hash;   // custom data 0
  std::optional<std::string> extra;  // custom data 10000
  bool memory = false;               // the file's bytes as a memory buffer
  std::optional<std::uint64_t> size; // a file input's size, not asked of the file
  std::vector<std::pair<std::string, bool>> bools;            // 10001
  std::vector<std::pair<std::string, std::int64_t>> ints;     // 10002
  std::vector<std::pair<std::string, std::string>> strings;   // 10003
  // What fpcheck reads itself: with hashFile and no hash given, the file's
  // SHA-256 is sent as the hash; a memory input larger than maxMemoryBytes
  // is not read.
  bool hashFile = false;
  std::uint64_t maxMemoryBytes = kDefaultMaxMemoryBytes;
};

// The status code of a check that never reached the plug-in (its file could
// not be read, its request line was unusable); its status name is
// "NotChecked".
inline constexpr std::int64_t kNotChecked = -1;

struct CheckResult {
  std::string path;
  std::string detection;
  bool memory = false;
  std::optional<bool> falsePositive;  // set when the check succeeded
  std::string status;                 // "Success" ... "CloudError", "NotChecked"
  std::int64_t statusCode = 0;
  double milliseconds = 0;            // the check call alone
  std::string error;                  // why it failed: the plug-in's error lines

  bool succeeded() const { return statusCode == 0; }
};

// What to try after a check that failed for a network reason (unauthorized,
// connection, time-out, certificate, the service's refusal); empty for
// other results.
std::string hintFor(const CheckResult& result);

// A result for a request that was never checked.
CheckResult notChecked(std::string path, std::string detection, bool memory, std::string reason);

// Reads what the request needs read (a memory input's bytes, the file's hash:
// only from a regular file, never waiting; a failure is a NotChecked result
// with the reason), fills an input of the request's kind, checks it and
// reads the verdict. Every host object made here is released here.
CheckResult runCheck(kesp::plugins::fpchecker::InstanceV1& instance, const CheckRequest& request);

// KEY=VALUE of --bool (true/false, 1/0, yes/no, on/off), --int (a signed
// 64-bit number) and --str (any text; the first = splits). Each returns false
// and a reason for a malformed text.
bool parseBoolPair(std::string_view text, std::pair<std::string, bool>& pair, std::string& reason);
bool parseIntPair(std::string_view text, std::pair<std::string, std::int64_t>& pair,
                  std::string& reason);
bool parseStrPair(std::string_view text, std::pair<std::string, std::string>& pair,
                  std::string& reason);

}  // namespace fpcheck
