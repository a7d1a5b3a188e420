// The verdicts the service allowed the SDK to keep (Cache-Control: max-age),
// shared by the instances of one SDK object. Keyed by detection name and
// hash, the hash without regard to case; checks without a hash are never
// kept. At most kCapacity entries; when full, expired entries go first, then
// the ones closest to expiry.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "reference/sdk/sdk_time.h"

namespace vfpcsdk {

// The entries of one shard and the rule that bounds them: when a new key
// finds the table full, every expired entry goes, or else the one that
// expires first. Not thread-safe: the cache holds each under a mutex.
class VerdictTable {
 public:
  using Clock = SdkTime::Clock;
  struct Entry {
    bool falsePositive;
    Clock::time_point expires;
  };

  explicit VerdictTable(std::size_t capacity) noexcept : capacity_(capacity) {}

  // The verdict under key if it is still valid at now; an expired one is
  // dropped.
  std::optional<bool> find(std::string_view key, Clock::time_point now);
  // Keeps entry under key, in place of any earlier one.
  void store(std::string key, Entry entry, Clock::time_point now);
  std::size_t size() const noexcept { return entries_.size(); }

 private:
  // Looked up by a view, so that a check finds its verdict without making a
  // string of its key.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>{}(key);
    }
  };

  std::size_t capacity_;
  std::unordered_map<std::string, Entry, KeyHash, std::equal_to<>> entries_;
};

class VerdictCache {
 public:
  static constexpr std::size_t kCapacity = 65536;

  // time outlives the cache.
  explicit VerdictCache(const SdkTime& time) noexcept : time_(time) {}

  // The kept verdict of a check with a hash, if any is still valid. Takes no
  // lock while the cache is empty.
  std::optional<bool> find(std::string_view detection, std::string_view hash);
  // Keeps the verdict for maxAgeSeconds; 0 keeps nothing.
  void store(std::string_view detection, std::string_view hash, bool falsePositive,
             std::uint64_t maxAgeSeconds);

 private:
  // Spread over shards so that instances on many threads rarely meet.
  static constexpr std::size_t kShards = 64;
  struct Shard {
    std::mutex mutex;
    VerdictTable table{kCapacity / kShards};
  };

  Shard& shardOf(std::string_view key);

  const SdkTime& time_;
  std::array<Shard, kShards> shards_;
  std::atomic<std::size_t> size_{0};
};

}  // namespace vfpcsdk
