// The raw file calls under the default file operations: the only code that
// differs between Windows and POSIX. Every entry behaves like the Win32 call it
// is named after; file_system_win32.cpp makes exactly those calls, and
// file_system_posix.cpp reproduces what callers rely on (exclusive opening,
// the 32-bit file pointer) with POSIX calls.
//
// The entries sit in one replaceable table, so that a test can make any call
// fail or throw and check what the operations above make of it.
#pragma once

#include <cstdint>

#include "foundation/unique_resource.h"

namespace kesp::fops {

// A HANDLE's bits on Windows, a file descriptor elsewhere.
using NativeHandle = std::intptr_t;

// The values are the Win32 ones, so that the Windows calls take them as they are.
enum class DesiredAccess : std::uint32_t {
  Read = 0x80000000u,       // GENERIC_READ
  ReadWrite = 0xC0000000u,  // GENERIC_READ | GENERIC_WRITE
};

enum class Disposition : std::uint32_t {
  CreateAlways = 2,      // create, or empty an existing file
  OpenExisting = 3,      // fail if missing
  TruncateExisting = 5,  // empty an existing file, fail if missing; needs ReadWrite
};

enum class MoveMethod : std::uint32_t {
  Begin = 0,
  Current = 1,
  End = 2,
};

// Bits of the access mode, as _waccess_s takes them; 0 tests existence only.
inline constexpr std::uint32_t kAccessModeWrite = 2;
inline constexpr std::uint32_t kAccessModeRead = 4;

// Paths are NUL-terminated UTF-16. Every entry returns true on success and
// writes its out-parameter only then. The entries that take a path may throw
// (the POSIX ones convert it to UTF-8); the operations catch.
struct FileSystemCalls {
  // _waccess_s: existence, read and write permission. A directory passes
  // every test; a read-only file fails the write test.
  bool (*access)(const char16_t* path, std::uint32_t mode);
  // MoveFileW: never replaces an existing target.
  bool (*move)(const char16_t* from, const char16_t* to);
  // DeleteFileW.
  bool (*remove)(const char16_t* path);
  // CreateFileW with share mode 0: fails while another handle holds the file
  // open, and keeps others out while the new handle is open.
  bool (*open)(const char16_t* path, DesiredAccess access, Disposition disposition,
               NativeHandle* handle);
  // ReadFile / WriteFile: one transfer of at most count bytes.
  bool (*read)(NativeHandle handle, void* buffer, std::uint32_t count, std::uint32_t* done);
  bool (*write)(NativeHandle handle, const void* buffer, std::uint32_t count,
                std::uint32_t* done);
  // SetFilePointer without a high part: fails when the new position would be
  // negative or would not fit in 32 bits, 0xFFFFFFFF included (the call's
  // failure value).
  bool (*setPointer)(NativeHandle handle, std::int32_t distance, MoveMethod method,
                     std::uint32_t* position);
  // GetFileSizeEx: the full 64-bit size.
  bool (*size)(NativeHandle handle, std::uint64_t* size);
  // FlushFileBuffers.
  bool (*flush)(NativeHandle handle);
  // CloseHandle. False means the handle is still open. Never throws: it
  // also runs when a file object ends.
  bool (*close)(NativeHandle handle);
};

// The calls in use. Only tests replace entries, and they put
// systemFileCalls() back before they end.
FileSystemCalls& fileSystemCalls() noexcept;
// The platform's own calls.
const FileSystemCalls& systemFileCalls() noexcept;

// An open file handle. Closing goes through the table, so that a test sees
// every handle come back.
struct FileHandleTraits {
  using Handle = NativeHandle;
  static Handle invalid() noexcept;
  static void close(Handle handle) noexcept { fileSystemCalls().close(handle); }
};

using UniqueFileHandle = plx::UniqueResource<FileHandleTraits>;

}  // namespace kesp::fops
