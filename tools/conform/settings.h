// What a run of fpcsdk-conform works with: the options of its command line,
// the SDK library they name, and the cases every clause checks.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fpcsdk/fpcsdk.h"

namespace CLI {
class App;
}

namespace conform {

// One detection to check. Known answers come from --cases; without them the
// kit checks two probes of its own, whose verdict it does not know.
struct Case {
  std::string name;  // for reasons: "line 3 (Trojan.X, 68 bytes in memory)"
  std::string detection;
  std::string path;  // empty: a memory buffer of size bytes
  std::uint64_t size = 0;
  std::optional<bool> falsePositive;
};

struct Settings {
  std::string directory;
  std::string library;  // the SDK library in directory
  std::optional<std::string> cloudUrl;
  std::string proxy;
  std::string certificatePath;
  std::uint64_t connectionTimeout = fpcsdk::kDefaultConnectionTimeout;
  std::uint64_t dataTimeout = fpcsdk::kDefaultDataTimeout;
  std::uint32_t retries = fpcsdk::kDefaultConnectionRetries;
  std::optional<std::string> casesFile;
  unsigned threads = 4;
  std::optional<std::string> junitFile;
  std::vector<std::string> only;
  bool list = false;
  std::optional<std::uint64_t> timeBudgetMs;
  std::optional<std::uint64_t> clauseTimeoutMs;
  std::string plugin;  // the plug-in library; default: beside the kit
  // In a clause's own process: the clause, and where its report goes.
  std::string runClause;
  std::string reportFile;

  // What initialize receives: the options, the kit's host text and the
  // plug-in's version.
  fpcsdk::FPCConfig config() const;
  // Per call: the options' own bound, (connection + data time-out) x
  // (retries + 1) + 1 s, unless given.
  std::chrono::milliseconds timeBudget() const;
  // What a clause's process may take in all before it is killed.
  std::chrono::milliseconds clauseTimeout() const;
};

// The options and the DIRECTORY argument, read into settings.
void addOptions(CLI::App& app, Settings& settings);
// After parsing: the library's path and the checks CLI11 cannot make.
// Throws UsageError.
void completeSettings(Settings& settings);

// The --cases file's cases (their paths relative to the file's directory,
// their sizes read when not given), or the two probes. Throws UsageError.
std::vector<Case> casesFor(const Settings& settings);

// What the kit passes as the host's text, to the SDK and the plug-in.
inline constexpr char kHostData[] = "fpcsdk-conform";
// Proxies that any SDK can tell apart: one well-formed (nothing listens on
// that port), one that no proxy syntax allows.
inline constexpr char kWellFormedProxy[] = "http://127.0.0.1:9";
inline constexpr char kMalformedProxy[] = "http://not a proxy:port";
// How long the kit waits after FPCDestroy for what an SDK left behind.
inline constexpr std::chrono::milliseconds kGracePeriod{1000};

}  // namespace conform
