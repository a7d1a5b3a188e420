// Windows only.
// windows.h first: shellapi.h needs its definitions.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "tools/host_platform.h"

namespace fpcheck {

namespace {

std::wstring toWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), length);
  return wide;
}

std::string toUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                        length, nullptr, nullptr);
  return text;
}

}  // namespace

LibraryHandle openLibrary(const std::string& path, std::string& error) {
  const std::wstring wide = toWide(path);
  if (wide.empty()) {
    error = "the path is empty or not valid UTF-8";
    return LibraryHandle();
  }
  LibraryHandle library(reinterpret_cast<void*>(::LoadLibraryW(wide.c_str())));
  if (!library) error = "LoadLibraryW failed with error " + std::to_string(::GetLastError());
  return library;
}

void* findSymbol(void* library, const char* name) noexcept {
  // Through void*: FARPROC's own type matches no real signature.
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void* library) noexcept { ::FreeLibrary(static_cast<HMODULE>(library)); }

std::string pluginFileName(bool checked) {
  return checked ? "vfpcchecker_checked.dll" : "vfpcchecker.dll";
}

std::string executableDirectory() {
  std::wstring name(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  name.resize(length);
  return toUtf8(std::filesystem::path(name).parent_path().wstring());
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  int count = 0;
  std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int index = 0; index < count; ++index) arguments.push_back(toUtf8(wide.get()[index]));
  return arguments;
}

void useBinaryStandardStreams() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace fpcheck
