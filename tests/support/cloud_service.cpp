#include "tests/support/cloud_service.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kesp::test {
namespace {

// ASan and TSan builds start slowly; a healthy service prints its URL in
// milliseconds.
constexpr auto kStartBound = std::chrono::seconds(20);
constexpr auto kStopBound = std::chrono::seconds(20);
// After its "stopped:" line or the end of its output the process ends in
// moments.
constexpr auto kExitBound = std::chrono::seconds(5);
// Its output is a file, read as it grows.
constexpr auto kReadPoll = std::chrono::milliseconds(5);

bool isRequest(const std::string& line) { return line.rfind("request ", 0) == 0; }
bool isStopped(const std::string& line) { return line.rfind("stopped:", 0) == 0; }

// The port of a URL http(s)://host:port/path.
int portOf(const std::string& url) {
  const auto hostStart = url.find("://");
  const auto pathStart = url.find('/', hostStart == std::string::npos ? 0 : hostStart + 3);
  const auto colon = url.rfind(':', pathStart);
  if (hostStart == std::string::npos || colon == std::string::npos || colon < hostStart + 3)
    return 0;
  return std::stoi(url.substr(colon + 1, pathStart - colon - 1));
}

}  // namespace

CloudService::CloudService(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
  start();
}

CloudService::~CloudService() {
  try {
    stop();
  } catch (...) {
  }
}

void CloudService::start() {
  {
    std::lock_guard lock(mutex_);
    lines_.clear();
    ended_ = false;
  }
  process_ = std::make_unique<ChildProcess>(ChildSetup{.program = fpcloudProgram(),
                                                      .arguments = arguments_,
                                                      .output = ChildStream::file(scratch_.file("out")),
                                                      .error = ChildStream::file(scratch_.file("err")),
                                                      .linuxProgram = true});
  finishReading_ = false;
  reader_ = std::thread([this] { readOutput(); });

  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kStartBound, [this] { return !lines_.empty() || ended_; });
  if (lines_.empty()) {
    lock.unlock();
    stop();
    std::ifstream err(fromUtf8(scratch_.file("err")), std::ios::binary);
    throw std::runtime_error("fpcloud printed no URL: " +
                             std::string(std::istreambuf_iterator<char>(err), {}));
  }
  url_ = lines_.front();
  port_ = portOf(url_);
}

void CloudService::readOutput() {
  std::string pending;
  std::streamoff done = 0;
  char buffer[4096];
  for (;;) {
    // Whether it has ended is asked first, so that what it wrote before its
    // end is read before the reading ends.
    const bool ended = finishReading_ || process_->wait(std::chrono::milliseconds(0));
    // Opened anew each time: a stream that met the end of the file once does
    // not see what is written after (the Windows C runtime's).
    std::ifstream output(fromUtf8(scratch_.file("out")), std::ios::binary);
    output.seekg(done);
    output.read(buffer, sizeof buffer);
    const auto got = output.gcount();
    done += got;
    if (got <= 0) {
      if (ended) break;
      std::this_thread::sleep_for(kReadPoll);
      continue;
    }
    pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    std::lock_guard lock(mutex_);
    while ((end = pending.find('\n')) != std::string::npos) {
      lines_.push_back(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  if (!pending.empty()) lines_.push_back(pending);
  ended_ = true;
  changed_.notify_all();
}

CloudService::Lines CloudService::lines() const {
  std::lock_guard lock(mutex_);
  if (lines_.empty()) return {};
  return Lines(lines_.begin() + 1, lines_.end());
}

CloudService::Lines CloudService::requestLines() const {
  Lines requests;
  for (auto& line : lines()) {
    if (isRequest(line)) requests.push_back(line);
  }
  return requests;
}

std::size_t CloudService::requestCount() const { return requestLines().size(); }

bool CloudService::waitFor(const std::function<bool(const Lines&)>& predicate,
                           std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    const Lines after = lines_.empty() ? Lines() : Lines(lines_.begin() + 1, lines_.end());
    return predicate(after);
  });
}

bool CloudService::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  return waitFor(
      [count](const Lines& lines) {
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), isRequest)) >= count;
      },
      timeout);
}

std::string CloudService::stoppedLine() const {
  std::lock_guard lock(mutex_);
  for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
    if (isStopped(*line)) return *line;
  }
  return {};
}

std::string CloudService::stop() {
  if (process_ != nullptr) {
    process_->signal(kTerminate);
    bool ending = false;
    {
      std::unique_lock lock(mutex_);
      ending = changed_.wait_for(lock, kStopBound, [this] {
        return ended_ || std::any_of(lines_.begin(), lines_.end(), isStopped);
      });
    }
    // A service that does not stop is a failure of its own; it must still
    // not outlive the test.
    std::optional<int> code = process_->wait(ending ? kExitBound : std::chrono::seconds(0));
    if (!code) code = process_->kill();
    exitCode_ = code.value_or(-1);
  }
  finishReading_ = true;
  if (reader_.joinable()) reader_.join();
  process_.reset();
  return stoppedLine();
}

void CloudService::restart() {
  stop();
  const std::string port = std::to_string(port_);
  const auto given = std::find(arguments_.begin(), arguments_.end(), "--port");
  if (given != arguments_.end() && given + 1 != arguments_.end()) {
    *(given + 1) = port;
  } else {
    arguments_.insert(arguments_.end(), {"--port", port});
  }
  start();
}

}  // namespace kesp::test
