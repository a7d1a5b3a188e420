// Win32 only: the raw file calls, exactly as the default file operations
// make them.
#include <windows.h>
#include <io.h>

#include "fops/file_system.h"

namespace kesp::fops {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(NativeHandle) == sizeof(HANDLE));
static_assert(static_cast<DWORD>(DesiredAccess::Read) == GENERIC_READ);
static_assert(static_cast<DWORD>(DesiredAccess::ReadWrite) == (GENERIC_READ | GENERIC_WRITE));
static_assert(static_cast<DWORD>(Disposition::CreateAlways) == CREATE_ALWAYS);
static_assert(static_cast<DWORD>(Disposition::OpenExisting) == OPEN_EXISTING);
static_assert(static_cast<DWORD>(Disposition::TruncateExisting) == TRUNCATE_EXISTING);
static_assert(static_cast<DWORD>(MoveMethod::Begin) == FILE_BEGIN);
static_assert(static_cast<DWORD>(MoveMethod::Current) == FILE_CURRENT);
static_assert(static_cast<DWORD>(MoveMethod::End) == FILE_END);

const wchar_t* wide(const char16_t* text) noexcept {
  return reinterpret_cast<const wchar_t*>(text);
}

HANDLE native(NativeHandle handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

bool accessFile(const char16_t* path, std::uint32_t mode) {
  return ::_waccess_s(wide(path), static_cast<int>(mode)) == 0;
}

bool moveFile(const char16_t* from, const char16_t* to) {
  return ::MoveFileW(wide(from), wide(to)) != 0;
}

bool removeFile(const char16_t* path) { return ::DeleteFileW(wide(path)) != 0; }

bool openFile(const char16_t* path, DesiredAccess access, Disposition disposition,
              NativeHandle* handle) {
  const HANDLE file = ::CreateFileW(wide(path), static_cast<DWORD>(access), 0, nullptr,
                                    static_cast<DWORD>(disposition), FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *handle = reinterpret_cast<NativeHandle>(file);
  return true;
}

bool readFile(NativeHandle handle, void* buffer, std::uint32_t count, std::uint32_t* done) {
  DWORD transferred = 0;
  if (!::ReadFile(native(handle), buffer, count, &transferred, nullptr)) return false;
  *done = transferred;
  return true;
}

bool writeFile(NativeHandle handle, const void* buffer, std::uint32_t count,
               std::uint32_t* done) {
  DWORD transferred = 0;
  if (!::WriteFile(native(handle), buffer, count, &transferred, nullptr)) return false;
  *done = transferred;
  return true;
}

bool setPointer(NativeHandle handle, std::int32_t distance, MoveMethod method,
                std::uint32_t* position) {
  // Without a high part, INVALID_SET_FILE_POINTER is the only failure signal;
  // the position 0xFFFFFFFF itself is indistinguishable from it and counts
  // as a failure too.
  const DWORD result =
      ::SetFilePointer(native(handle), distance, nullptr, static_cast<DWORD>(method));
  if (result == INVALID_SET_FILE_POINTER) return false;
  *position = result;
  return true;
}

bool fileSize(NativeHandle handle, std::uint64_t* size) {
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(native(handle), &value)) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool flushFile(NativeHandle handle) { return ::FlushFileBuffers(native(handle)) != 0; }

bool closeFile(NativeHandle handle) { return ::CloseHandle(native(handle)) != 0; }

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

FileHandleTraits::Handle FileHandleTraits::invalid() noexcept {
  return reinterpret_cast<NativeHandle>(INVALID_HANDLE_VALUE);
}

}  // namespace kesp::fops
