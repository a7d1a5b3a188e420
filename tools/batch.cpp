#include "tools/batch.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "tools/failure_text.h"
#include "tools/json_lines.h"

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
// when it has waited this long.
constexpr std::size_t kWriterWakeResults = 32;
constexpr auto kWriterWakeAfter = std::chrono::milliseconds(1);
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

struct Pending {
  std::size_t sequence = 0;  // among the lines that are not blank
  Line line;
};

struct Outcome {
  std::size_t line = 0;
  std::size_t bytes = 0;             // of the line, while it counts in the window
  std::optional<CheckResult> result; // none for a skipped line
};

Outcome process(fp::InstanceV1& instance, const LineParser& parse, const Line& line) {
  Outcome outcome{line.number, line.text.size(), std::nullopt};
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

// The requests between the reader, the workers and the writer, under one
// mutex.
struct Window {
  std::mutex mutex;
  std::condition_variable requestReady;  // for the workers
  std::condition_variable resultReady;   // for the writer
  std::condition_variable roomFree;      // for the reader
  std::deque<Pending> pending;           // read, no check started
  std::map<std::size_t, Outcome> done;   // by sequence, not yet written
  std::size_t held = 0;                  // read and not yet written
  std::size_t heldBytes = 0;
  std::size_t finished = 0;    // lines dealt with by the workers
  std::size_t lastStarted = 0; // the line of the last one a worker took
  std::size_t nextSequence = 0;  // the next to write in input order
  // Who waits, so that a hand-over wakes only someone who needs it.
  std::size_t idleWorkers = 0;
  bool writerWaits = false;
  std::chrono::steady_clock::time_point writerWaitsSince;
  bool readerWaits = false;
  bool readingEnded = false;
  bool stopping = false;
  // A worker lost a result (memory ran out): in input order, the others are
  // written past the gap.
  bool gap = false;
  std::string failure;

  // No new check starts; what was read and not started is dropped. Since the
  // workers take requests in input order, what was started is all the lines
  // up to one.
  void stopLocked() {
    stopping = true;
    for (const Pending& request : pending) heldBytes -= request.line.text.size();
    held -= pending.size();
    pending.clear();
    requestReady.notify_all();
    resultReady.notify_all();
    roomFree.notify_all();
  }

  bool hasRoom(std::size_t bytes, std::size_t requests) const {
    return held == 0 || (held < requests && heldBytes + bytes <= kWindowBytes);
  }

  bool writable(bool unordered) const {
    return !done.empty() && (unordered || gap || done.begin()->first == nextSequence);
  }

  bool allWritten() const { return (readingEnded || stopping) && held == 0; }

  // Moves out what the writer may write now.
  void takeWritable(bool unordered, std::vector<Outcome>& out) {
    while (writable(unordered)) {
      auto first = done.begin();
      nextSequence = first->first + 1;
      --held;
      heldBytes -= first->second.bytes;
      out.push_back(std::move(first->second));
      done.erase(first);
    }
    if (readerWaits && held <= kWindowRequests / 2) roomFree.notify_one();
  }

  void putDone(std::size_t sequence, Outcome outcome) {
    done.emplace(sequence, std::move(outcome));
    if (writerWaits &&
        (done.size() >= kWriterWakeResults || pending.empty() || readingEnded ||
         std::chrono::steady_clock::now() - writerWaitsSince >= kWriterWakeAfter)) {
      resultReady.notify_one();
    }
  }
};

void readLines(Window& window, InterruptibleInput& input) {
  std::string error;
  try {
    LineReader reader(input, error);
    Line line;
    for (std::size_t sequence = 0; reader.next(line);) {
      if (!line.tooLong && isBlank(line.text)) continue;
      const std::size_t bytes = line.text.size();
      std::unique_lock lock(window.mutex);
      if (!window.hasRoom(bytes, kWindowRequests)) {
        window.readerWaits = true;
        window.roomFree.wait(lock, [&] {
          return window.stopping || window.hasRoom(bytes, kWindowRequests / 2 + 1);
        });
        window.readerWaits = false;
      }
      if (window.stopping) break;
      window.pending.push_back({sequence++, std::move(line)});
      ++window.held;
      window.heldBytes += bytes;
      const bool wake = window.idleWorkers > 0;
      lock.unlock();
      if (wake) window.requestReady.notify_one();
    }
  } catch (...) {
    noteFailure(error, std::current_exception());
  }
  std::lock_guard lock(window.mutex);
  if (!error.empty()) window.failure = "cannot read standard input: " + error;
  window.readingEnded = true;
  if (input.interrupt() != 0) window.stopLocked();
  window.requestReady.notify_all();
  window.resultReady.notify_all();
}

void work(Window& window, fp::InstanceV1& instance, const LineParser& parse,
          InterruptibleInput& input) {
  for (;;) {
    std::unique_lock lock(window.mutex);
    ++window.idleWorkers;
    window.requestReady.wait(lock, [&] {
      return window.stopping || window.readingEnded || !window.pending.empty();
    });
    --window.idleWorkers;
    // Asked here too, not only by the reader: no check starts after an
    // interrupt, whoever notices it first.
    if (!window.stopping && input.interrupt() != 0) window.stopLocked();
    if (window.stopping || window.pending.empty()) return;
    Pending request = std::move(window.pending.front());
    window.pending.pop_front();
    window.lastStarted = request.line.number;
    lock.unlock();
    try {
      Outcome outcome = process(instance, parse, request.line);
      lock.lock();
      window.putDone(request.sequence, std::move(outcome));
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      --window.held;
      window.heldBytes -= request.line.text.size();
      window.gap = true;
      noteFailure(window.failure, std::current_exception());
      window.stopLocked();
    }
    ++window.finished;
  }
}

// The reader and the workers; on every way out of the batch they are told to
// stop and joined before the instances they use are released.
class Threads {
 public:
  Threads(Window& window, InterruptibleInput& input) : window_(window), input_(input) {}
  ~Threads() { stopAndJoin(); }
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;

  template <class Function>
  void start(Function function) {
    threads_.emplace_back(std::move(function));
  }

  void stopAndJoin() noexcept {
    {
      std::lock_guard lock(window_.mutex);
      window_.stopLocked();
    }
    input_.stop();
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  Window& window_;
  InterruptibleInput& input_;
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

  Window window;
  Threads threads(window, input);
  threads.start([&] { readLines(window, input); });
  for (HostPtr<fp::InstanceV1>& instance : instances) {
    threads.start([&, checker = instance.get()] {
      work(window, *checker, settings.parse, input);
      session.threadCleanup();
    });
  }

  BatchSummary summary;
  std::vector<Outcome> writable;
  bool unflushed = false;
  // The first progress line with the first results.
  auto lastProgress = start - kProgressEvery;
  const auto showProgress = [&](std::size_t finished) {
    const auto now = std::chrono::steady_clock::now();
    if (settings.progress == nullptr || now - lastProgress < kProgressEvery) return;
    lastProgress = now;
    // Flushed first, so that the line never runs ahead of what is out.
    results.flush();
    settings.progress->progress(
        "fpcheck: " + std::to_string(finished) + " checked, " +
        rateText(finished, std::chrono::duration<double>(now - start).count()) +
        " checks per second");
  };
  const auto noteOutputClosed = [&] {
    if (summary.outputClosed || results.good()) return;
    summary.outputClosed = true;
    {
      std::lock_guard lock(window.mutex);
      window.stopLocked();
    }
    input.stop();
  };

  std::unique_lock lock(window.mutex);
  for (;;) {
    if (!window.stopping && input.interrupt() != 0) window.stopLocked();
    window.takeWritable(settings.unordered, writable);
    if (!writable.empty()) {
      const std::size_t finished = window.finished;
      lock.unlock();
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
      showProgress(finished);
      lock.lock();
      continue;
    }
    if (window.allWritten()) break;
    const auto ready = [&] {
      return window.writable(settings.unordered) || window.allWritten();
    };
    if (unflushed) {
      window.writerWaits = true;
      window.writerWaitsSince = std::chrono::steady_clock::now();
      const bool more = window.resultReady.wait_for(lock, kFlushAfter, ready);
      window.writerWaits = false;
      if (more) continue;
      lock.unlock();
      results.flush();
      unflushed = false;
      noteOutputClosed();
      lock.lock();
      continue;
    }
    const std::size_t finished = window.finished;
    lock.unlock();
    showProgress(finished);
    lock.lock();
    window.writerWaits = true;
    window.writerWaitsSince = std::chrono::steady_clock::now();
    window.resultReady.wait_for(lock, kProgressEvery, ready);
    window.writerWaits = false;
  }
  summary.lastLine = window.lastStarted;
  summary.failure = window.failure;
  lock.unlock();

  results.flush();
  threads.stopAndJoin();
  summary.interrupt = input.interrupt();
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (settings.progress != nullptr) settings.progress->endProgress();
  return summary;
}

}  // namespace fpcheck
