// Real proxies from the system's packages, started by a test on loopback:
// tinyproxy (HTTP, CONNECT, basic authentication) and microsocks (SOCKS5).
// Each writes its log to a file the test reads; the destructor stops it.
// The Windows tests start the Linux programs under Wine
// (proxy_process_win32.cpp); WinHTTP cannot use a SOCKS proxy, so they need
// no microsocks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"

namespace kesp::test {

class ProxyProcess {
 public:
  // tinyproxy requiring user:password (basic authentication); an empty user
  // means a tinyproxy that asks for none.
  static ProxyProcess tinyproxy(const std::string& user, const std::string& password);
#ifndef _WIN32
  // microsocks without authentication.
  static ProxyProcess microsocks();
#endif

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
  // Starts argv (with {port}, {config} and {log} replaced) on a free port;
  // retries a few ports when the program cannot bind one; throws when it
  // never listens.
  void start(const std::vector<std::string>& argv, const std::string& configTemplate);

  // The platform's part (proxy_process_posix.cpp, proxy_process_win32.cpp).
  // A port nothing listens on right now (the system's choice).
  static int freePort();
  static bool accepts(int port);
  // The path as the proxy program reads it (under Wine, the Unix path).
  static std::string programPath(const std::string& path);
  // Starts the program; its standard output goes to the log when
  // outputToLog, and is dropped otherwise.
  void spawn(const std::vector<std::string>& arguments, bool outputToLog);
  // Whether the started program still runs.
  bool running();
  // Stops the program and waits (bounded) for its end; nothing when none runs.
  void stop();

  std::unique_ptr<TempDir> scratch_;
  std::string log_;
  // The proxy's process id (under Wine, the Linux one); -1 when none runs.
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace kesp::test
