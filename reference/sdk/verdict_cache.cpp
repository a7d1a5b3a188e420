#include "reference/sdk/verdict_cache.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace vfpcsdk {

namespace {

constexpr char kSeparator = '\n';  // a detection name holds no line end

char lowered(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string keyOf(std::string_view detection, std::string_view hash) {
  std::string key(detection);
  key += kSeparator;
  for (const char c : hash) key += lowered(c);
  return key;
}

// The same key in a caller's buffer when it fits (the common case: a name
// and a 64-digit hash), else empty.
std::string_view keyIn(char* buffer, std::size_t capacity, std::string_view detection,
                       std::string_view hash) {
  const std::size_t length = detection.size() + 1 + hash.size();
  if (length > capacity) return {};
  char* out = std::copy(detection.begin(), detection.end(), buffer);
  *out++ = kSeparator;
  std::transform(hash.begin(), hash.end(), out, lowered);
  return {buffer, length};
}

// Ten years: far beyond any session, far from overflowing the clock.
constexpr std::uint64_t kLongestAgeSeconds = 10ull * 365 * 24 * 3600;

}  // namespace

VerdictCache::Shard& VerdictCache::shardOf(std::string_view key) {
  return shards_[KeyHash{}(key) % kShards];
}

std::optional<bool> VerdictCache::find(std::string_view detection, std::string_view hash) {
  if (hash.empty() || size_.load(std::memory_order_acquire) == 0) return std::nullopt;
  char buffer[256];
  std::string longKey;
  std::string_view key = keyIn(buffer, sizeof buffer, detection, hash);
  if (key.empty()) {
    longKey = keyOf(detection, hash);
    key = longKey;
  }
  Shard& shard = shardOf(key);
  std::lock_guard lock(shard.mutex);
  const auto found = shard.entries.find(key);
  if (found == shard.entries.end()) return std::nullopt;
  if (found->second.expires <= Clock::now()) {
    shard.entries.erase(found);
    size_.fetch_sub(1, std::memory_order_release);
    return std::nullopt;
  }
  return found->second.falsePositive;
}

void VerdictCache::store(std::string_view detection, std::string_view hash, bool falsePositive,
                         std::uint64_t maxAgeSeconds) {
  if (hash.empty() || maxAgeSeconds == 0) return;
  const Clock::time_point now = Clock::now();
  const Entry entry{falsePositive,
                    now + std::chrono::seconds(std::min(maxAgeSeconds, kLongestAgeSeconds))};
  std::string key = keyOf(detection, hash);
  Shard& shard = shardOf(key);
  std::lock_guard lock(shard.mutex);
  if (const auto found = shard.entries.find(key); found != shard.entries.end()) {
    found->second = entry;
    return;
  }
  constexpr std::size_t kShardCapacity = kCapacity / kShards;
  if (shard.entries.size() >= kShardCapacity) {
    std::size_t dropped = std::erase_if(shard.entries,
                                        [&](const auto& item) { return item.second.expires <= now; });
    if (dropped == 0) {
      shard.entries.erase(std::min_element(shard.entries.begin(), shard.entries.end(),
                                           [](const auto& a, const auto& b) {
                                             return a.second.expires < b.second.expires;
                                           }));
      dropped = 1;
    }
    size_.fetch_sub(dropped, std::memory_order_release);
  }
  shard.entries.emplace(std::move(key), entry);
  size_.fetch_add(1, std::memory_order_release);
}

}  // namespace vfpcsdk
