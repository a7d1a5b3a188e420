// Windows only.
#include <windows.h>

#include <filesystem>
#include <string>

#include "tools/bounded_file.h"

namespace fpcheck::system_file {

namespace {

std::string systemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) {
    wide.pop_back();
  }
  if (wide.empty()) return "system error " + std::to_string(code);
  const std::u8string utf8 = std::filesystem::path(wide).u8string();
  return std::string(utf8.begin(), utf8.end());
}

HANDLE toHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

Opened openForReading(const std::string& path) {
  Opened opened;
  const std::filesystem::path name(std::u8string(path.begin(), path.end()));
  // CreateFileW never waits on a named pipe: with no free instance it fails
  // with ERROR_PIPE_BUSY (only WaitNamedPipe waits). Without
  // FILE_FLAG_BACKUP_SEMANTICS a directory is refused.
  const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      opened.kind = Kind::Directory;
      return opened;
    }
    opened.failure = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                         ? Failure::NotFound
                         : Failure::Other;
    opened.error = systemText(error);
    return opened;
  }
  opened.handle = reinterpret_cast<Handle>(handle);
  switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK: {
      // A volume or disk opened by its device name is of this type too, but
      // has no file size.
      LARGE_INTEGER size{};
      if (::GetFileSizeEx(handle, &size)) {
        opened.kind = Kind::Regular;
        opened.size = static_cast<std::uint64_t>(size.QuadPart);
      } else {
        opened.kind = Kind::Device;
      }
      break;
    }
    case FILE_TYPE_PIPE:
      opened.kind = Kind::Fifo;
      break;
    case FILE_TYPE_CHAR:
      opened.kind = Kind::Device;
      break;
    default:
      opened.kind = Kind::Other;
      break;
  }
  return opened;
}

bool read(Handle handle, char* buffer, std::size_t capacity, std::size_t& got, std::string& error) {
  const DWORD chunk = capacity > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(capacity);
  DWORD count = 0;
  if (!::ReadFile(toHandle(handle), buffer, chunk, &count, nullptr)) {
    error = systemText(::GetLastError());
    return false;
  }
  got = count;
  return true;
}

void close(Handle handle) noexcept { ::CloseHandle(toHandle(handle)); }

}  // namespace fpcheck::system_file
