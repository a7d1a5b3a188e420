// The plug-in's own file operations over the local file system, used until
// the host registers a factory of its own.
#pragma once

#include <cstdint>
#include <string>

#include "fops/file_system.h"
#include "foundation/logger.h"
#include "kesp/fops.h"

namespace kesp {

// One file, named by a UTF-16 path. Every operation keeps exceptions inside,
// logs each failure once at level 0 and returns false. Opening is exclusive.
// Single transfers, tell and seek keep to 32 bits; size reports 64 bits.
//
// Two choices go beyond the plain operations, both so that no handle is lost:
// open on an open object closes the old handle first (and fails, keeping it,
// if that close fails), and ending the object closes an open handle.
class FopsFileDefault final : public FopsFileV1 {
 public:
  FopsFileDefault(std::u16string name, const plx::LogChannel& log) noexcept;
  ~FopsFileDefault() = default;
  FopsFileDefault(const FopsFileDefault&) = delete;
  FopsFileDefault& operator=(const FopsFileDefault&) = delete;

  bool access(std::uint32_t flags) noexcept override;
  bool rename(const char* newPath) noexcept override;
  bool unlink() noexcept override;
  bool open(std::uint32_t access, std::uint32_t flags) noexcept override;
  bool read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) noexcept override;
  bool write(const void* buffer, std::uint64_t count,
             std::uint64_t* bytesWritten) noexcept override;
  bool tell(std::uint64_t* position) noexcept override;
  bool seek(std::int64_t offset, std::uint32_t whence) noexcept override;
  bool size(std::uint64_t* size) noexcept override;
  bool flush() noexcept override;
  bool close() noexcept override;

 private:
  // The stored name as UTF-8, made only for a log line.
  std::string nameForLog() const;

  std::u16string name_;
  fops::UniqueFileHandle handle_;  // valid exactly while the file is open
  plx::LogChannel log_;
};

// Makes FopsFileDefault objects. Holds only the logger (borrowed: it must
// outlive the factory and every file it made) with the module number and
// flags of every line; safe to call from several threads at once.
class FopsFactoryDefault final : public FopsFactoryV1 {
 public:
  FopsFactoryDefault(const plx::Logger& logger, std::uint32_t module,
                     std::uint32_t flags) noexcept
      : log_(logger, module, flags) {}

  // A new closed file object, or null for a null path or a path that is not
  // UTF-8. context is not used.
  FopsFileV1* createFopsFile(const char* path, void* context) noexcept override;
  // Ends a FopsFileDefault, closing it if it is open; leaves any other object
  // alone.
  void releaseFopsFile(FopsFileV1* file) noexcept override;

 private:
  plx::LogChannel log_;
};

}  // namespace kesp
