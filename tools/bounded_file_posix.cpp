// POSIX only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "tools/bounded_file.h"

namespace fpcheck::system_file {

namespace {

Kind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return Kind::Regular;
  if (S_ISDIR(mode)) return Kind::Directory;
  if (S_ISFIFO(mode)) return Kind::Fifo;
  if (S_ISSOCK(mode)) return Kind::Socket;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return Kind::Device;
  return Kind::Other;
}

}  // namespace

Opened openForReading(const std::string& path) {
  Opened opened;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
  // writer. It changes nothing for a regular file's reads.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    // A socket cannot be opened at all: say what it is rather than ENXIO.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
      opened.kind = kindOf(status.st_mode);
      return opened;
    }
    opened.failure = error == ENOENT || error == ENOTDIR ? Failure::NotFound : Failure::Other;
    opened.error = std::generic_category().message(error);
    return opened;
  }
  opened.handle = fd;
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    opened.failure = Failure::Other;
    opened.error = std::generic_category().message(errno);
    return opened;
  }
  opened.kind = kindOf(status.st_mode);
  opened.size = static_cast<std::uint64_t>(status.st_size);
  return opened;
}

bool read(Handle handle, char* buffer, std::size_t capacity, std::size_t& got, std::string& error) {
  for (;;) {
    const ssize_t count = ::read(static_cast<int>(handle), buffer, capacity);
    if (count >= 0) {
      got = static_cast<std::size_t>(count);
      return true;
    }
    if (errno != EINTR) {
      error = std::generic_category().message(errno);
      return false;
    }
  }
}

void close(Handle handle) noexcept { ::close(static_cast<int>(handle)); }

}  // namespace fpcheck::system_file
