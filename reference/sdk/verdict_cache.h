// The verdicts the service allowed the SDK to keep (Cache-Control: max-age),
// shared by the instances of one SDK object. Keyed by detection name and
// hash, the hash without regard to case; checks without a hash are never
// kept. At most kCapacity entries; when full, expired entries go first, then
// the ones closest to expiry.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vfpcsdk {

class VerdictCache {
 public:
  static constexpr std::size_t kCapacity = 65536;

  // The kept verdict of a check with a hash, if any is still valid. Takes no
  // lock while the cache is empty.
  std::optional<bool> find(std::string_view detection, std::string_view hash);
  // Keeps the verdict for maxAgeSeconds; 0 keeps nothing.
  void store(std::string_view detection, std::string_view hash, bool falsePositive,
             std::uint64_t maxAgeSeconds);

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    bool falsePositive;
    Clock::time_point expires;
  };
  // Spread over shards so that instances on many threads rarely meet.
  static constexpr std::size_t kShards = 64;
  // Looked up by a view, so that a check finds its verdict without making a
  // string of its key.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>{}(key);
    }
  };
  struct Shard {
    std::mutex mutex;
    std::unordered_map<std::string, Entry, KeyHash, std::equal_to<>> entries;
  };

  Shard& shardOf(std::string_view key);

  std::array<Shard, kShards> shards_;
  std::atomic<std::size_t> size_{0};
};

}  // namespace vfpcsdk
