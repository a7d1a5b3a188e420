#include "reference/cloud/socket_control.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace fpcloud {
namespace {

int portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

std::string hostOf(const sockaddr_storage& address, socklen_t length) {
  char host[NI_MAXHOST] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr,
                  0, NI_NUMERICHOST) != 0)
    return {};
  return host;
}

// Descriptors are numbered from the lowest free one, and the service holds
// a few dozen; scanning the numbers creates no descriptor of its own (a
// directory listing would, racing with the connections' own).
constexpr int kHighestScanned = 4096;

// Calls visit(fd, peer, peerLength) for each connected socket whose local
// port is localPort; stops when visit returns true.
bool forEachConnection(int localPort,
                       const std::function<bool(int, const sockaddr_storage&, socklen_t)>& visit) {
  rlimit limit{};
  int highest = kHighestScanned;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < static_cast<rlim_t>(highest))
    highest = static_cast<int>(limit.rlim_cur);
  for (int fd = 0; fd < highest; ++fd) {
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        portOf(local) != localPort)
      continue;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    // The listening socket has no peer.
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
    if (visit(fd, peer, peerLength)) return true;
  }
  return false;
}

bool shutDown(const std::string& peerAddress, int peerPort, int localPort, int how) {
  return forEachConnection(localPort, [&](int fd, const sockaddr_storage& peer, socklen_t length) {
    if (portOf(peer) != peerPort || hostOf(peer, length) != peerAddress) return false;
    shutdown(fd, how);
    return true;
  });
}

}  // namespace

bool dropConnection(const std::string& peerAddress, int peerPort, int localPort) {
  return shutDown(peerAddress, peerPort, localPort, SHUT_RDWR);
}

bool endAfterAnswer(const std::string& peerAddress, int peerPort, int localPort) {
  return shutDown(peerAddress, peerPort, localPort, SHUT_RD);
}

void stopReading(int localPort) {
  forEachConnection(localPort, [](int fd, const sockaddr_storage&, socklen_t) {
    shutdown(fd, SHUT_RD);
    return false;
  });
}

}  // namespace fpcloud
