#include <winsock2.h>

#include <stdexcept>

#include "tests/support/loopback.h"

namespace kesp::test {
namespace {

struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("no Winsock");
  }
  ~Winsock() { WSACleanup(); }
};

SOCKET newSocket() {
  static const Winsock winsock;
  return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

SilentListener::SilentListener() {
  const SOCKET s = newSocket();
  socket_ = static_cast<std::intptr_t>(s);
  sockaddr_in address = loopback(0);
  int length = sizeof address;
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no listening socket on loopback");
  port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() { closesocket(static_cast<SOCKET>(socket_)); }

bool acceptsConnection(int port) {
  const SOCKET s = newSocket();
  const sockaddr_in address = loopback(port);
  const bool accepted =
      connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  closesocket(s);
  return accepted;
}

}  // namespace kesp::test
