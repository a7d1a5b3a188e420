#include <windows.h>

#include <filesystem>
#include <string>

#include "tests/support/test_paths.h"

namespace kesp::test {

std::string executableDirectory() {
  std::wstring buffer(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return utf8(std::filesystem::path(buffer).parent_path());
}

}  // namespace kesp::test
