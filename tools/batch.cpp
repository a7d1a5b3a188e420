#include "tools/batch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "tools/bounded_queue.h"
#include "tools/failure_text.h"
#include "tools/json_lines.h"
#include "tools/reorder_ring.h"

namespace fpcheck {

namespace {

// A longer line is refused without being held: no path is that long.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
// What bounds the batch's memory: requests read but not yet written, and the
// bytes of their lines. Enough that the workers never wait for the reader,
// and that a slow check holds back this many before reading waits.
constexpr std::size_t kWindowRequests = 1024;
constexpr std::size_t kWindowBytes = std::size_t{4} << 20;
// Each hand-over that wakes a waiting thread costs a system call: a full
// window lets the reader go on once half of it is written, and while more
// work is queued the writer is woken for this many results at a time, or
// when it has waited this long (at 1 ms, a batch through the network woke
// it every five checks or so: 0.8 futex calls a check, against 0.36 now).
// Once the queue runs dry it is woken at once, so a slow pipeline still
// sees each result as it comes.
constexpr std::size_t kWriterWakeResults = 32;
constexpr auto kWriterWakeAfter = std::chrono::milliseconds(10);
constexpr std::size_t kReadBlock = std::size_t{64} << 10;
// Written results are flushed once no further result has come for this
// long: at once for a person watching, in blocks for a fast batch.
constexpr auto kFlushAfter = std::chrono::milliseconds(2);
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

const char* signalName(int signal) {
  switch (signal) {
    case kSigInt:
      return "SIGINT";
    case kSigTerm:
      return "SIGTERM";
    default:
      return "a signal";
  }
}

struct Line {
  std::size_t number = 0;  // from 1, blank lines counted
  std::string text;        // without its line end
  bool tooLong = false;    // then text is empty
};

bool isBlank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

// Lines from the input as its bytes arrive, each held only up to
// kMaxLineBytes.
class LineReader {
 public:
  LineReader(InterruptibleInput& input, std::string& error) : input_(input), error_(error) {}

  // The next line; false at the end of the input.
  bool next(Line& line) {
    line.text.clear();
    line.tooLong = false;
    bool any = false;
    for (;;) {
      if (begin_ == end_ && !fill()) {
        if (!any) return false;
        break;  // a last line without a line end
      }
      any = true;
      const char* start = buffer_.data() + begin_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
      const std::size_t length =
          static_cast<std::size_t>((newline != nullptr ? newline : buffer_.data() + end_) - start);
      if (!line.tooLong && line.text.size() + length > kMaxLineBytes) {
        line.tooLong = true;
        std::string().swap(line.text);
      }
      if (!line.tooLong) line.text.append(start, length);
      begin_ += length;
      if (newline != nullptr) {
        ++begin_;
        break;
      }
    }
    line.number = ++lines_;
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    return true;
  }

 private:
  bool fill() {
    if (ended_) return false;
    begin_ = 0;
    end_ = input_.read(buffer_.data(), buffer_.size(), error_);
    ended_ = end_ == 0;
    return !ended_;
  }

  InterruptibleInput& input_;
  std::string& error_;
  std::vector<char> buffer_ = std::vector<char>(kReadBlock);
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t lines_ = 0;
  bool ended_ = false;
};

struct Outcome {
  std::size_t line = 0;
  std::optional<CheckResult> result;  // none for a skipped line
};

using Ring = ReorderRing<Outcome>;

struct Pending {
  Ring::Ticket ticket;
  Line line;
};

Outcome process(fp::InstanceV1& instance, const LineParser& parse, const Line& line) {
  Outcome outcome{line.number, std::nullopt};
  CheckRequest request;
  std::string reason;
  if (line.tooLong) {
    reason = "longer than " + std::to_string(kMaxLineBytes) + " bytes";
  } else {
    try {
      switch (parse(line.text, request, reason)) {
        case LineKind::Request:
          outcome.result = runCheck(instance, request);
          return outcome;
        case LineKind::Skipped:
          return outcome;
        case LineKind::Invalid:
          break;
      }
    } catch (...) {
      // This request fails with what went wrong, the others go on.
      reason = failureText(std::current_exception());
    }
  }
  outcome.result = notChecked(request.path, request.detection, request.memory,
                              "request line " + std::to_string(line.number) + ": " + reason);
  return outcome;
}

// The reader, the workers and the writer: requests go from the reader to the
// workers through a bounded queue, results from the workers to the writer
// through the reorder ring, which also bounds what is held between reading
// and writing.
class Pipeline {
 public:
  Pipeline(InterruptibleInput& input, bool unordered)
      : input_(input),
        requests_(kWindowRequests),
        results_({kWindowRequests, kWindowBytes, kWriterWakeResults, kWriterWakeAfter}, unordered) {}

  void read() {
    std::string error;
    try {
      LineReader reader(input_, error);
      Line line;
      while (reader.next(line)) {
        if (!line.tooLong && isBlank(line.text)) continue;
        const std::optional<Ring::Ticket> ticket = results_.reserve(line.text.size());
        if (!ticket) break;
        if (!requests_.push(Pending{*ticket, std::move(line)})) {
          results_.abandon(*ticket);
          break;
        }
      }
    } catch (...) {
      noteFailure(error, std::current_exception());
    }
    if (!error.empty()) fail("cannot read standard input: ", error);
    results_.close();
    requests_.close();
    if (input_.interrupt() != 0) stop();
  }

  void work(fp::InstanceV1& instance, const LineParser& parse) {
    while (std::optional<Pending> request = requests_.pop()) {
      // Asked here too, not only by the reader: no check starts after an
      // interrupt, whoever notices it first.
      if (input_.interrupt() != 0) {
        results_.abandon(request->ticket);
        stop();
        return;
      }
      noteStarted(request->line.number);
      try {
        Outcome outcome = process(instance, parse, request->line);
        // Once the queue runs dry the writer is woken at once: the results
        // then wait for no more of them.
        results_.put(request->ticket, std::move(outcome), requests_.empty());
      } catch (...) {
        // The result is lost: in input order, the others are written past it.
        results_.abandon(request->ticket);
        std::string failure;
        noteFailure(failure, std::current_exception());
        fail("", failure);
        stop();
      }
      finished_.fetch_add(1, std::memory_order_relaxed);
    }
  }

  // No new check starts; what was read and not started is dropped. Since the
  // workers take requests in input order, what was started is all the lines
  // up to one.
  void stop() noexcept {
    requests_.stop([this](const Pending& dropped) { results_.abandon(dropped.ticket); });
    results_.close();
    input_.stop();
  }

  Ring& results() { return results_; }
  std::size_t finished() const { return finished_.load(std::memory_order_relaxed); }
  std::size_t lastStarted() const { return lastStarted_.load(); }
  std::string failure() {
    std::lock_guard lock(failureMutex_);
    return failure_;
  }

 private:
  void noteStarted(std::size_t line) {
    std::size_t last = lastStarted_.load();
    while (last < line && !lastStarted_.compare_exchange_weak(last, line)) {
    }
  }

  // The first failure is the one named.
  void fail(const char* context, const std::string& failure) noexcept {
    std::lock_guard lock(failureMutex_);
    if (!failure_.empty()) return;
    try {
      failure_ = context + failure;
    } catch (...) {
      failure_ = "out of memory";
    }
  }

  InterruptibleInput& input_;
  BoundedQueue<Pending> requests_;
  Ring results_;
  std::atomic<std::size_t> finished_{0};
  std::atomic<std::size_t> lastStarted_{0};
  std::mutex failureMutex_;
  std::string failure_;
};

// The reader and the workers; on every way out of the batch they are told to
// stop and joined before the instances they use are released.
class Threads {
 public:
  explicit Threads(Pipeline& pipeline) : pipeline_(pipeline) {}
  ~Threads() { stopAndJoin(); }
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;

  template <class Function>
  void start(Function function) {
    threads_.emplace_back(std::move(function));
  }

  void stopAndJoin() noexcept {
    pipeline_.stop();
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  Pipeline& pipeline_;
  std::vector<std::thread> threads_;
};

std::string rateText(std::size_t count, double seconds) {
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.1f",
                seconds > 0 ? static_cast<double>(count) / seconds : 0.0);
  return rate;
}

void tally(const CheckResult& result, BatchSummary& summary) {
  ++summary.requests;
  if (result.succeeded()) {
    ++summary.checked;
    if (result.falsePositive.value_or(false)) ++summary.falsePositives;
  } else {
    auto& entry = summary.errors[result.statusCode];
    entry.first = result.status;
    ++entry.second;
    if (std::string hint = hintFor(result); !hint.empty()) summary.hints.insert(std::move(hint));
  }
}

}  // namespace

LineKind parseJsonLine(std::string_view line, CheckRequest& request, std::string& reason) {
  return parseRequestLine(line, request, reason) ? LineKind::Request : LineKind::Invalid;
}

std::string BatchSummary::text() const {
  std::size_t errorCount = 0;
  std::string byStatus;
  for (const auto& [code, entry] : errors) {
    errorCount += entry.second;
    if (!byStatus.empty()) byStatus += ", ";
    byStatus += entry.first + ": " + std::to_string(entry.second);
  }
  std::string text = std::to_string(requests) + " requests, " + std::to_string(checked) +
                     " checked, " + std::to_string(falsePositives) + " false positives, " +
                     std::to_string(errorCount) + " failed";
  if (!byStatus.empty()) text += " (" + byStatus + ")";
  if (skipped > 0) text += ", " + std::to_string(skipped) + " lines skipped";
  text += ", " + rateText(requests, seconds) + " checks per second";
  if (interrupt != 0) {
    text += std::string("; interrupted by ") + signalName(interrupt) + ": ";
    text += lastLine == 0 ? "no input line was checked"
                          : "no input line after " + std::to_string(lastLine) + " was checked";
  } else if (outputClosed) {
    text += "; stopped: standard output was closed";
  }
  if (!failure.empty()) text += "; stopped: " + failure;
  return text;
}

BatchSummary runBatch(PluginSession& session, InterruptibleInput& input, std::ostream& results,
                      const BatchSettings& settings) {
  const auto start = std::chrono::steady_clock::now();
  // Made here, one per worker, before any thread starts; released after the
  // threads are joined.
  std::vector<HostPtr<fp::InstanceV1>> instances;
  for (unsigned index = 0; index < std::max(1u, settings.jobs); ++index) {
    instances.push_back(session.createInstance());
  }

  Pipeline pipeline(input, settings.unordered);
  Threads threads(pipeline);
  threads.start([&] { pipeline.read(); });
  for (HostPtr<fp::InstanceV1>& instance : instances) {
    threads.start([&, checker = instance.get()] {
      pipeline.work(*checker, settings.parse);
      session.threadCleanup();
    });
  }

  BatchSummary summary;
  std::vector<Outcome> writable;
  bool unflushed = false;
  // The first progress line with the first results.
  auto lastProgress = start - kProgressEvery;
  const auto showProgress = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (settings.progress == nullptr || now - lastProgress < kProgressEvery) return;
    lastProgress = now;
    // Flushed first, so that the line never runs ahead of what is out.
    results.flush();
    const std::size_t finished = pipeline.finished();
    settings.progress->progress(
        "fpcheck: " + std::to_string(finished) + " checked, " +
        rateText(finished, std::chrono::duration<double>(now - start).count()) +
        " checks per second");
  };
  const auto noteOutputClosed = [&] {
    if (summary.outputClosed || results.good()) return;
    summary.outputClosed = true;
    pipeline.stop();
  };

  Ring& ring = pipeline.results();
  for (;;) {
    if (input.interrupt() != 0) pipeline.stop();
    if (ring.take(writable) > 0) {
      for (const Outcome& outcome : writable) {
        if (!outcome.result) {
          ++summary.skipped;
        } else if (!summary.outputClosed) {
          results << resultLine(*outcome.result,
                                settings.unordered ? std::optional(outcome.line) : std::nullopt)
                  << '\n';
          tally(*outcome.result, summary);
        }
      }
      writable.clear();
      unflushed = true;
      noteOutputClosed();
      showProgress();
      continue;
    }
    if (ring.drained()) break;
    if (unflushed) {
      // Written results go out once no further one has come for a while.
      if (ring.waitTakeable(std::chrono::steady_clock::now() + kFlushAfter)) continue;
      results.flush();
      unflushed = false;
      noteOutputClosed();
      continue;
    }
    showProgress();
    ring.waitTakeable(std::chrono::steady_clock::now() + kProgressEvery);
  }
  summary.lastLine = pipeline.lastStarted();
  summary.failure = pipeline.failure();

  results.flush();
  threads.stopAndJoin();
  summary.interrupt = input.interrupt();
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (settings.progress != nullptr) settings.progress->endProgress();
  return summary;
}

}  // namespace fpcheck
