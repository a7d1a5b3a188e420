// Windows only: the proxies' ports, through Winsock.
#include <winsock2.h>

#include <stdexcept>

#include "tests/network/proxy_process.h"

namespace kesp::test {
namespace {

struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("no Winsock");
  }
  ~Winsock() { WSACleanup(); }
};

class Socket {
 public:
  Socket() {
    static const Winsock winsock;
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) throw std::runtime_error("no socket");
  }
  ~Socket() { closesocket(socket_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int ProxyProcess::freePort() {
  Socket s;
  sockaddr_in address = loopback(0);
  int length = sizeof address;
  if (bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no free port on loopback");
  return ntohs(address.sin_port);
}

bool ProxyProcess::accepts(int port) {
  Socket s;
  const sockaddr_in address = loopback(port);
  return connect(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace kesp::test
