// POSIX only: the raw file calls, reproducing the Win32 behaviour that the
// default file operations rely on.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "fops/file_system.h"
#include "foundation/system_error.h"
#include "foundation/utf_convert.h"

namespace kesp::fops {

namespace {

// A descriptor owned while open() is still deciding; closing it keeps the
// errno of the call that failed.
struct DescriptorTraits {
  using Handle = int;
  static Handle invalid() noexcept { return -1; }
  static void close(Handle descriptor) noexcept {
    const plx::SystemErrorPreserver keepError;
    ::close(descriptor);
  }
};

// SetFilePointer fails, without moving, for positions it cannot return in
// 32 bits; 0xFFFFFFFF is its failure value.
constexpr std::int64_t kPointerLimit = 0xFFFFFFFF;

// The stored UTF-16 name as the POSIX calls take it. Every open converts it
// back, and a check opens its file once, so a name that fits is converted
// into a buffer on the stack instead of a new string. A name that does not
// fit (the system refuses it anyway beyond PATH_MAX), or that is not valid
// UTF-16, takes the general conversion, which throws its own exception.
class NativePath {
 public:
  explicit NativePath(const char16_t* path) {
    const std::u16string_view name(path);
    if (name.size() < sizeof(buffer_)) {
      const int written = plx::detail::utf16ToUtf8Units(
          name.data(), static_cast<int>(name.size()), buffer_, sizeof(buffer_) - 1);
      if (written > 0 || name.empty()) {
        buffer_[written] = '\0';
        text_ = buffer_;
        return;
      }
    }
    converted_ = plx::utf16ToUtf8(name);
    text_ = converted_.c_str();
  }
  NativePath(const NativePath&) = delete;
  NativePath& operator=(const NativePath&) = delete;

  const char* c_str() const noexcept { return text_; }

 private:
  char buffer_[PATH_MAX];
  std::string converted_;
  const char* text_ = nullptr;
};

template <class Call>
auto restartOnSignal(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

bool accessFile(const char16_t* path, std::uint32_t mode) {
  struct stat status {};
  if (::stat(NativePath(path).c_str(), &status) != 0) return false;
  if (S_ISDIR(status.st_mode)) return true;
  // access(W_OK) always succeeds for root. Like the read-only attribute on
  // Windows, the mode bits decide: a file that nobody may write is read-only.
  if ((mode & kAccessModeWrite) != 0 && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    errno = EACCES;
    return false;
  }
  // _waccess_s grants read permission to every existing file.
  return true;
}

bool moveFile(const char16_t* from, const char16_t* to) {
  const NativePath source(from);
  const NativePath target(to);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot rename without replacing. A hard link fails on an
  // existing target just as MoveFileW does.
  if (::link(source.c_str(), target.c_str()) != 0) return false;
  if (::unlink(source.c_str()) != 0) {
    const plx::SystemErrorPreserver keepError;
    ::unlink(target.c_str());
    return false;
  }
  return true;
}

bool removeFile(const char16_t* path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool openFile(const char16_t* path, DesiredAccess access, Disposition disposition,
              NativeHandle* handle) {
  const NativePath name(path);
  // O_NONBLOCK: opening a named pipe would otherwise wait for its other end,
  // and the host thread with it. It changes nothing for a regular file.
  int flags =
      O_CLOEXEC | O_NONBLOCK | (access == DesiredAccess::ReadWrite ? O_RDWR : O_RDONLY);
  if (disposition == Disposition::CreateAlways) flags |= O_CREAT;
  plx::UniqueResource<DescriptorTraits> descriptor(
      restartOnSignal([&] { return ::open(name.c_str(), flags, 0666); }));
  if (!descriptor) return false;

  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) return false;
  // CreateFileW does not open a directory as a file.
  if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    return false;
  }
  // Share mode 0: the lock makes a second open of the file fail at once.
  if (::flock(descriptor.get(), LOCK_EX | LOCK_NB) != 0) return false;
  // Emptying comes after the lock (not O_TRUNC), so that a file held by
  // someone else keeps its data. ftruncate needs write access, so a
  // read-only TruncateExisting fails here as on Windows.
  if (disposition != Disposition::OpenExisting &&
      restartOnSignal([&] { return ::ftruncate(descriptor.get(), 0); }) != 0) {
    return false;
  }
  *handle = descriptor.release();
  return true;
}

// ReadFile and WriteFile make one transfer; a call restarted after a signal
// is still that one transfer.
bool readFile(NativeHandle handle, void* buffer, std::uint32_t count, std::uint32_t* done) {
  const ssize_t result =
      restartOnSignal([&] { return ::read(static_cast<int>(handle), buffer, count); });
  if (result < 0) return false;
  *done = static_cast<std::uint32_t>(result);
  return true;
}

bool writeFile(NativeHandle handle, const void* buffer, std::uint32_t count,
               std::uint32_t* done) {
  const ssize_t result =
      restartOnSignal([&] { return ::write(static_cast<int>(handle), buffer, count); });
  if (result < 0) return false;
  *done = static_cast<std::uint32_t>(result);
  return true;
}

bool setPointer(NativeHandle handle, std::int32_t distance, MoveMethod method,
                std::uint32_t* position) {
  const int descriptor = static_cast<int>(handle);
  std::int64_t origin = 0;
  switch (method) {
    case MoveMethod::Begin:
      break;
    case MoveMethod::Current:
      origin = ::lseek(descriptor, 0, SEEK_CUR);
      if (origin < 0) return false;
      break;
    case MoveMethod::End: {
      struct stat status {};
      if (::fstat(descriptor, &status) != 0) return false;
      origin = status.st_size;
      break;
    }
    default:
      errno = EINVAL;
      return false;
  }
  // Checked before moving: a refused position leaves the pointer where it was.
  const std::int64_t target = origin + distance;
  if (target < 0 || target >= kPointerLimit) {
    errno = target < 0 ? EINVAL : EOVERFLOW;
    return false;
  }
  if (::lseek(descriptor, static_cast<off_t>(target), SEEK_SET) < 0) return false;
  *position = static_cast<std::uint32_t>(target);
  return true;
}

bool fileSize(NativeHandle handle, std::uint64_t* size) {
  struct stat status {};
  if (::fstat(static_cast<int>(handle), &status) != 0) return false;
  // Like GetFileSizeEx on a handle that is not a disk file.
  if (!S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return false;
  }
  *size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

bool flushFile(NativeHandle handle) {
  return restartOnSignal([&] { return ::fsync(static_cast<int>(handle)); }) == 0;
}

bool closeFile(NativeHandle handle) {
  // Linux releases the descriptor even when close reports an error (EINTR,
  // EIO); only EBADF leaves things as they were. Reporting a released
  // descriptor as still open would let a later close hit a number that
  // another file may own by then.
  return ::close(static_cast<int>(handle)) == 0 || errno != EBADF;
}

constexpr FileSystemCalls kSystemCalls{
    .access = &accessFile,
    .move = &moveFile,
    .remove = &removeFile,
    .open = &openFile,
    .read = &readFile,
    .write = &writeFile,
    .setPointer = &setPointer,
    .size = &fileSize,
    .flush = &flushFile,
    .close = &closeFile,
};

}  // namespace

const FileSystemCalls& systemFileCalls() noexcept { return kSystemCalls; }

FileSystemCalls& fileSystemCalls() noexcept {
  static FileSystemCalls calls = kSystemCalls;
  return calls;
}

FileHandleTraits::Handle FileHandleTraits::invalid() noexcept { return -1; }

}  // namespace kesp::fops
