// The reference cloud service as a test starts it: bin/fpcloud (beside the
// test program; for the Windows tests under Wine, the Linux build's, named by
// the environment variable KESP_NATIVE_FPCLOUD) as a child process on
// loopback, its output lines collected as they come. The destructor stops it,
// so no test leaves one behind.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kesp::test {

class ServiceProcess;

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
  // the URL line; throws std::runtime_error when none comes.
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
  // The exit code of the last run that stopped; -1 for a signal or none.
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
  std::unique_ptr<ServiceProcess> process_;
  int exitCode_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Lines lines_;       // every line of the current run, the URL first
  bool ended_ = false;  // the current run's output ended
};

}  // namespace kesp::test
