#include <winsock2.h>

#include <stdexcept>

#include "tests/network/silent_listener.h"

namespace kesp::test {
namespace {

struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("no Winsock");
  }
  ~Winsock() { WSACleanup(); }
};

}  // namespace

SilentListener::SilentListener() {
  static const Winsock winsock;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  socket_ = static_cast<std::intptr_t>(s);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no listening socket on loopback");
  port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() { closesocket(static_cast<SOCKET>(socket_)); }

}  // namespace kesp::test
