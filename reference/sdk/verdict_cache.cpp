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

std::optional<bool> VerdictTable::find(std::string_view key, Clock::time_point now) {
  const auto found = entries_.find(key);
  if (found == entries_.end()) return std::nullopt;
  if (found->second.expires <= now) {
    entries_.erase(found);
    return std::nullopt;
  }
  return found->second.falsePositive;
}

void VerdictTable::store(std::string key, Entry entry, Clock::time_point now) {
  if (const auto found = entries_.find(key); found != entries_.end()) {
    found->second = entry;
    return;
  }
  if (entries_.size() >= capacity_ &&
      std::erase_if(entries_, [&](const auto& item) { return item.second.expires <= now; }) == 0 &&
      !entries_.empty()) {
    entries_.erase(std::min_element(
        entries_.begin(), entries_.end(),
        [](const auto& a, const auto& b) { return a.second.expires < b.second.expires; }));
  }
  entries_.emplace(std::move(key), entry);
}

VerdictCache::Shard& VerdictCache::shardOf(std::string_view key) {
  return shards_[std::hash<std::string_view>{}(key) % kShards];
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
  const std::size_t before = shard.table.size();
  const std::optional<bool> verdict = shard.table.find(key, time_.now());
  if (const std::size_t after = shard.table.size(); after < before) {
    size_.fetch_sub(before - after, std::memory_order_release);
  }
  return verdict;
}

void VerdictCache::store(std::string_view detection, std::string_view hash, bool falsePositive,
                         std::uint64_t maxAgeSeconds) {
  if (hash.empty() || maxAgeSeconds == 0) return;
  const VerdictTable::Clock::time_point now = time_.now();
  const VerdictTable::Entry entry{
      falsePositive, now + std::chrono::seconds(std::min(maxAgeSeconds, kLongestAgeSeconds))};
  std::string key = keyOf(detection, hash);
  Shard& shard = shardOf(key);
  std::lock_guard lock(shard.mutex);
  const std::size_t before = shard.table.size();
  shard.table.store(std::move(key), entry, now);
  const std::size_t after = shard.table.size();
  if (after > before) {
    size_.fetch_add(after - before, std::memory_order_release);
  } else if (after < before) {
    size_.fetch_sub(before - after, std::memory_order_release);
  }
}

}  // namespace vfpcsdk
