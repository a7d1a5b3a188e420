// File operations: the host's way to give plug-ins file access. The FP
// checker uses them only to learn the size of a file input.
#pragma once

#include <cstdint>

namespace kesp {

// Bits of FopsFileV1::access.
enum FopsAccessFlags : std::uint32_t {
  FopsAccessExists = 0,
  FopsAccessRead = 1,
  FopsAccessWrite = 2,
};

// FopsFileV1::open access argument: 1 reads and writes, anything else reads.
enum FopsOpenAccess : std::uint32_t {
  FopsOpenRead = 0,
  FopsOpenReadWrite = 1,
};

// Bits of FopsFileV1::open flags.
enum FopsOpenFlags : std::uint32_t {
  FopsOpenTruncate = 1,  // empty an existing file (needs write access)
  FopsOpenCreate = 2,    // create the file, replacing an existing one
};

// FopsFileV1::seek origins.
enum FopsWhence : std::uint32_t {
  FopsSeekBegin = 0,
  FopsSeekCurrent = 1,
  FopsSeekEnd = 2,
};

// [host imp, or the plug-in's default] One file. Every operation returns true
// on success; out-parameters are written only on success. A file object is
// used by one thread at a time and ends only through
// FopsFactoryV1::releaseFopsFile of the factory that made it.
class FopsFileV1 {
 public:
  // Slot 0. Whether the file exists (flags 0) and grants read (FopsAccessRead,
  // 1: bit 0) and/or write (FopsAccessWrite, 2: bit 1) permission.
  virtual bool access(std::uint32_t flags) = 0;
  // Slot 1. Renames the file to /*in*/ newPath; fails if the target exists.
  virtual bool rename(const char* newPath) = 0;
  // Slot 2. Deletes the file.
  virtual bool unlink() = 0;
  // Slot 3. Opens the file exclusively; see FopsOpenAccess and FopsOpenFlags.
  virtual bool open(std::uint32_t access, std::uint32_t flags) = 0;
  // Slot 4. One read of at most count (< 2^32) bytes into /*out*/ buffer.
  virtual bool read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) = 0;
  // Slot 5. One write of at most count (< 2^32) bytes from /*in*/ buffer.
  virtual bool write(const void* buffer, std::uint64_t count, std::uint64_t* bytesWritten) = 0;
  // Slot 6. The current position (below 4294967295).
  virtual bool tell(std::uint64_t* position) = 0;
  // Slot 7. Moves by a 32-bit signed offset from a FopsWhence origin.
  virtual bool seek(std::int64_t offset, std::uint32_t whence) = 0;
  // Slot 8. The full 64-bit size; opens and closes the file if it is closed.
  virtual bool size(std::uint64_t* size) = 0;
  // Slot 9. Flushes written data to the device.
  virtual bool flush() = 0;
  // Slot 10. Closes the file.
  virtual bool close() = 0;

 protected:
  ~FopsFileV1() = default;
};

// [host imp, or the plug-in's default] Makes file objects. It must outlive
// every file object it made, and allow calls from several threads at once.
class FopsFactoryV1 {
 public:
  // Slot 0. A new closed file object for /*in*/ path (UTF-8), or null.
  // context is passed through from the input (InputV1::setFopsContext).
  virtual FopsFileV1* createFopsFile(const char* path, void* context) = 0;
  // Slot 1. Ends the life of a file object this factory made.
  virtual void releaseFopsFile(FopsFileV1* file) = 0;
  // Slot 2.
  virtual ~FopsFactoryV1() = default;
};

}  // namespace kesp
