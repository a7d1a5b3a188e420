#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/support/test_paths.h"

namespace kesp::test {

std::string executableDirectory() {
  std::wstring buffer(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return utf8(std::filesystem::path(buffer).parent_path());
}

std::string fpcloudProgram() {
  constexpr char kVariable[] = "KESP_NATIVE_FPCLOUD";
  const char* path = std::getenv(kVariable);
  if (path == nullptr || *path == '\0')
    throw std::runtime_error(std::string(kVariable) +
                             " is not set: it names the Linux build's fpcloud (build/linux/bin/"
                             "fpcloud; build the linux preset first), which the Windows tests "
                             "start under Wine");
  return path;
}

}  // namespace kesp::test
