// Real proxies from the system's packages, started by a test on loopback:
// tinyproxy (HTTP, CONNECT, basic authentication) and microsocks (SOCKS5).
// Each writes its log to a file the test reads; the destructor stops it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"

namespace kesp::test {

class ProxyProcess {
 public:
  // tinyproxy requiring user:password (basic authentication).
  static ProxyProcess tinyproxy(const std::string& user, const std::string& password);
  // microsocks without authentication.
  static ProxyProcess microsocks();

  ProxyProcess(ProxyProcess&& other) noexcept;
  ProxyProcess& operator=(ProxyProcess&&) = delete;
  ~ProxyProcess();

  int port() const { return port_; }
  // The proxy's log lines so far.
  std::vector<std::string> logLines() const;
  // How many log lines hold text.
  std::size_t countLines(const std::string& text) const;

 private:
  ProxyProcess() = default;
  // Starts argv (with {port} replaced) on a free port; retries a few ports
  // when the program cannot bind one; throws when it never listens.
  void start(const std::vector<std::string>& argv, const std::string& configTemplate);
  void stop();

  std::unique_ptr<TempDir> scratch_;
  std::string log_;
  pid_t child_ = -1;
  int port_ = 0;
};

}  // namespace kesp::test
