// Windows only: the DLL's own path through GetModuleHandleExW and
// GetModuleFileNameW.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "reference/sdk/module_directory.h"

namespace vfpcsdk {

namespace {
const char anchor = 0;
}  // namespace

std::filesystem::path moduleDirectory() {
  HMODULE module = nullptr;
  // UNCHANGED_REFCOUNT: the plug-in owns the library's reference count.
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&anchor), &module)) {
    throw std::runtime_error("GetModuleHandleExW failed with error " +
                             std::to_string(::GetLastError()));
  }
  // GetModuleFileNameW truncates silently when the buffer is too small and
  // then returns the buffer's size: grow until the name fits.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) {
      throw std::runtime_error("GetModuleFileNameW failed with error " +
                               std::to_string(::GetLastError()));
    }
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    if (name.size() >= 32768) throw std::runtime_error("the library's path is too long");
    name.resize(name.size() * 2);
  }
  return std::filesystem::path(name).parent_path();
}

}  // namespace vfpcsdk
