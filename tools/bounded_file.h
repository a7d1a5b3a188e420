// The files fpcheck reads itself (a memory input's bytes, a file to hash).
// Only a regular file is read: a FIFO, a device or a socket could make the
// read wait for ever or never end, so it is refused at once, and opening one
// never waits either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/unique_resource.h"

namespace fpcheck {

// The system calls behind RegularFile (bounded_file_posix.cpp,
// bounded_file_win32.cpp).
namespace system_file {

using Handle = std::intptr_t;
inline constexpr Handle kInvalid = -1;  // also INVALID_HANDLE_VALUE's value

enum class Kind { Regular, Directory, Fifo, Socket, Device, Other };
enum class Failure { None, NotFound, Other };

struct Opened {
  Handle handle = kInvalid;  // may be kInvalid when kind is not Regular
  Kind kind = Kind::Other;
  std::uint64_t size = 0;    // for a regular file
  Failure failure = Failure::None;
  std::string error;         // the system's text for Failure::Other
};

// Opens the UTF-8 path for reading without waiting on whatever it names, and
// says what it is.
Opened openForReading(const std::string& path);
// Up to capacity bytes; got is 0 at the end of the file. False with the
// system's text on failure.
bool read(Handle handle, char* buffer, std::size_t capacity, std::size_t& got, std::string& error);
void close(Handle handle) noexcept;

struct Traits {
  using Handle = system_file::Handle;
  static Handle invalid() noexcept { return kInvalid; }
  static void close(Handle handle) noexcept { system_file::close(handle); }
};

}  // namespace system_file

// A regular file open for reading. Every failure's reason starts with what
// was being done ("cannot hash 'PATH'", "cannot read 'PATH' into memory"):
// the caller gives that beginning.
class RegularFile {
 public:
  // False with the reason when the path cannot be opened or is not a
  // regular file.
  bool open(const std::string& path, const std::string& action, std::string& reason);
  // Its size when it was opened.
  std::uint64_t size() const { return size_; }
  // Up to capacity bytes; got is 0 at the end.
  bool read(char* buffer, std::size_t capacity, std::size_t& got, std::string& reason);

 private:
  plx::UniqueResource<system_file::Traits> handle_;
  std::uint64_t size_ = 0;
  std::string action_;
};

// The bytes of a regular file of at most limit bytes, or false with the
// reason; of a larger file nothing is read.
bool readRegularFile(const std::string& path, std::uint64_t limit, std::vector<char>& bytes,
                     std::string& reason);

}  // namespace fpcheck
