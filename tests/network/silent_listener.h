// A listening TCP socket on loopback that never accepts: the system
// completes the TCP handshake, and nothing ever answers the TLS one.
#pragma once

#include <cstdint>

namespace kesp::test {

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

}  // namespace kesp::test
