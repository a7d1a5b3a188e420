#include "tools/bounded_file.h"

namespace fpcheck {

namespace {

const char* kindText(system_file::Kind kind) {
  switch (kind) {
    case system_file::Kind::Regular:
      return "a regular file";
    case system_file::Kind::Directory:
      return "a directory";
    case system_file::Kind::Fifo:
      return "a FIFO or pipe";
    case system_file::Kind::Socket:
      return "a socket";
    case system_file::Kind::Device:
      return "a device";
    case system_file::Kind::Other:
      break;
  }
  return "not a file";
}

}  // namespace

bool RegularFile::open(const std::string& path, const std::string& action, std::string& reason) {
  action_ = action;
  system_file::Opened opened = system_file::openForReading(path);
  handle_.reset(opened.handle);
  switch (opened.failure) {
    case system_file::Failure::None:
      break;
    case system_file::Failure::NotFound:
      reason = action_ + ": it does not exist";
      return false;
    case system_file::Failure::Other:
      reason = action_ + ": " + opened.error;
      return false;
  }
  if (opened.kind != system_file::Kind::Regular) {
    handle_.reset();
    reason = action_ + ": it is " + kindText(opened.kind) +
             ", not a regular file, and only regular files are read";
    return false;
  }
  size_ = opened.size;
  return true;
}

bool RegularFile::read(char* buffer, std::size_t capacity, std::size_t& got, std::string& reason) {
  std::string error;
  if (system_file::read(handle_.get(), buffer, capacity, got, error)) return true;
  reason = action_ + ": " + error;
  return false;
}

bool readRegularFile(const std::string& path, std::uint64_t limit, std::vector<char>& bytes,
                     std::string& reason) {
  RegularFile file;
  if (!file.open(path, "cannot read '" + path + "' into memory", reason)) return false;
  if (file.size() > limit) {
    reason = "cannot read '" + path + "' into memory: it is " + std::to_string(file.size()) +
             " bytes, more than the limit of " + std::to_string(limit) +
             " bytes (--max-memory-bytes)";
    return false;
  }
  // The size when it was opened is what is read: a file that grows meanwhile
  // is not read past it, one that shrinks ends early.
  bytes.resize(static_cast<std::size_t>(file.size()));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    std::size_t got = 0;
    if (!file.read(bytes.data() + filled, bytes.size() - filled, got, reason)) return false;
    if (got == 0) break;
    filled += got;
  }
  bytes.resize(filled);
  return true;
}

}  // namespace fpcheck
