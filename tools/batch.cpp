#include "tools/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tools/check_request.h"
#include "tools/json_lines.h"

namespace fpcheck {

namespace {

struct Request {
  std::size_t line = 0;
  std::string text;
};

std::vector<Request> readRequests(std::istream& input) {
  std::vector<Request> requests;
  std::string text;
  std::size_t line = 0;
  while (std::getline(input, text)) {
    ++line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.find_first_not_of(" \t") == std::string::npos) continue;
    requests.push_back({line, std::move(text)});
  }
  return requests;
}

CheckResult check(fp::InstanceV1& instance, const Request& request) {
  CheckRequest parsed;
  std::string reason;
  try {
    if (parseRequestLine(request.text, parsed, reason)) return runCheck(instance, parsed);
  } catch (const std::exception& error) {
    // Memory ran out, most likely: this request fails, the others go on.
    reason = error.what();
  }
  return notChecked(parsed.path, parsed.detection, parsed.memory,
                    "request line " + std::to_string(request.line) + ": " + reason);
}

// The results, filled by the workers in any order and taken by the writer in
// request order.
class ResultSlots {
 public:
  explicit ResultSlots(std::size_t count) : slots_(count) {}

  void put(std::size_t index, CheckResult result) {
    {
      std::lock_guard lock(mutex_);
      slots_[index] = std::move(result);
      ++done_;
    }
    ready_.notify_one();
  }

  // Waits up to the timeout for the result at index; null if it is not there.
  std::optional<CheckResult> take(std::size_t index, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [&] { return slots_[index].has_value(); });
    if (!slots_[index]) return std::nullopt;
    std::optional<CheckResult> result = std::move(slots_[index]);
    slots_[index].reset();
    return result;
  }

  std::size_t done() const {
    std::lock_guard lock(mutex_);
    return done_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::optional<CheckResult>> slots_;
  std::size_t done_ = 0;
};

std::string progressText(std::size_t done, std::size_t total) {
  return "fpcheck: " + std::to_string(done) + "/" + std::to_string(total) + " checked";
}

}  // namespace

std::string BatchSummary::text() const {
  std::size_t errorCount = 0;
  std::string byStatus;
  for (const auto& [code, entry] : errors) {
    errorCount += entry.second;
    if (!byStatus.empty()) byStatus += ", ";
    byStatus += entry.first + ": " + std::to_string(entry.second);
  }
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? static_cast<double>(requests) / seconds : 0.0);
  std::string text = std::to_string(requests) + " requests, " + std::to_string(checked) +
                     " checked, " + std::to_string(falsePositives) + " false positives, " +
                     std::to_string(errorCount) + " failed";
  if (!byStatus.empty()) text += " (" + byStatus + ")";
  return text + ", " + rate + " checks per second";
}

BatchSummary runBatch(PluginSession& session, std::istream& requests, std::ostream& results,
                      unsigned jobs, Console* progress) {
  const std::vector<Request> all = readRequests(requests);
  BatchSummary summary;
  summary.requests = all.size();
  const std::size_t workerCount = std::min<std::size_t>(jobs, all.size());

  // Instances are made here, one per worker, before any thread starts.
  std::vector<HostPtr<fp::InstanceV1>> instances;
  for (std::size_t index = 0; index < workerCount; ++index) {
    instances.push_back(session.createInstance());
  }

  const auto start = std::chrono::steady_clock::now();
  ResultSlots slots(all.size());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers;
  for (std::size_t index = 0; index < workerCount; ++index) {
    workers.emplace_back([&, instance = instances[index].get()] {
      for (std::size_t taken = next++; taken < all.size(); taken = next++) {
        slots.put(taken, check(*instance, all[taken]));
      }
      session.threadCleanup();
    });
  }

  auto lastProgress = std::chrono::steady_clock::time_point{};
  for (std::size_t written = 0; written < all.size();) {
    if (std::optional<CheckResult> result = slots.take(written, std::chrono::milliseconds(100))) {
      results << resultLine(*result) << '\n';
      if (result->succeeded()) {
        ++summary.checked;
        if (result->falsePositive.value_or(false)) ++summary.falsePositives;
      } else {
        auto& entry = summary.errors[result->statusCode];
        entry.first = result->status;
        ++entry.second;
        if (std::string hint = hintFor(*result); !hint.empty()) summary.hints.insert(std::move(hint));
      }
      ++written;
    }
    if (progress != nullptr) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastProgress >= std::chrono::milliseconds(100)) {
        // Flushed first, so that the line never runs ahead of what is out.
        results.flush();
        progress->progress(progressText(slots.done(), all.size()));
        lastProgress = now;
      }
    }
  }
  results.flush();
  for (std::thread& worker : workers) worker.join();
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (progress != nullptr) progress->endProgress();
  return summary;
}

}  // namespace fpcheck
