#include "cloud/socket_control.h"

#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

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

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Calls visit(fd, peer, peerLength) for each connected socket whose local
// port is localPort; stops when visit returns true.
bool forEachConnection(int localPort,
                       const std::function<bool(int, const sockaddr_storage&, socklen_t)>& visit) {
  std::unique_ptr<DIR, DirCloser> dir(opendir("/proc/self/fd"));
  if (!dir) return false;
  const int own = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        portOf(local) != localPort)
      continue;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    // The listening socket has no peer.
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
      continue;
    if (visit(static_cast<int>(fd), peer, peerLength)) return true;
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
