// The reference cloud service as a test starts it: fpcloud (see
// fpcloudProgram) as a child process on loopback, its output lines collected
// as they come. The destructor stops it, so no test leaves one behind.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_paths.h"

namespace kesp::test {

// The loopback name a TLS service listens on and its URL names. Wine's TLS
// server policy matches the DNS names of a certificate but not its IP
// addresses, so the Windows tests use localhost (the test certificates name
// both).
#ifdef _WIN32
inline constexpr char kTlsServiceHost[] = "localhost";
#else
inline constexpr char kTlsServiceHost[] = "127.0.0.1";
#endif

class CloudService {
 public:
  using Lines = std::vector<std::string>;

  // Starts fpcloud with the arguments (--rules and the rest) and waits for
  // the URL line; throws std::runtime_error with its standard error when
  // none comes.
  explicit CloudService(std::vector<std::string> arguments);
  ~CloudService();
  CloudService(const CloudService&) = delete;
  CloudService& operator=(const CloudService&) = delete;

  const std::string& url() const { return url_; }
  int port() const { return port_; }

  // The lines after the URL of the current run, in order.
  Lines lines() const;
  // Only its "request ..." lines, and their number.
  Lines requestLines() const;
  std::size_t requestCount() const;

  // Waits until predicate holds for the lines, at most timeout; whether it
  // held.
  bool waitFor(const std::function<bool(const Lines&)>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  // Stops the service as SIGTERM does and waits for it; returns its
  // "stopped:" line (empty when it printed none). Does nothing more when
  // already stopped.
  std::string stop();
  bool running() const { return process_ != nullptr; }
  // The exit code of the last run that stopped (128 + the signal for one a
  // signal ended); -1 when none is known.
  int exitCode() const { return exitCode_; }

  // Starts the service again with the same arguments on the same port: the
  // service that comes back. The lines start anew.
  void restart();

 private:
  void start();
  void readOutput();
  std::string stoppedLine() const;

  std::vector<std::string> arguments_;
  std::string url_;
  int port_ = 0;
  TempDir scratch_;  // its standard output and error, a file each
  std::unique_ptr<ChildProcess> process_;
  int exitCode_ = -1;
  std::thread reader_;
  std::atomic<bool> finishReading_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Lines lines_;       // every line of the current run, the URL first
  bool ended_ = false;  // the current run's output ended
};

}  // namespace kesp::test
