// TCP on loopback for the network tests: a port nothing listens on, whether
// a port accepts a connection, and a listener that never answers.
// loopback_posix.cpp and loopback_win32.cpp hold the socket calls.
#pragma once

#include <cstdint>

namespace kesp::test {

// A listening TCP socket on loopback that never accepts: the system
// completes the TCP handshake, and nothing ever answers the TLS one.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }

 private:
  std::intptr_t socket_;
  int port_ = 0;
};

// A port with nothing behind it: bound by the system, then released.
inline int closedPort() {
  SilentListener taken;
  return taken.port();
}

// Whether something on loopback accepts a connection to the port.
bool acceptsConnection(int port);

}  // namespace kesp::test
