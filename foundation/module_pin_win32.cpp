// Win32 only: GetModuleHandleExW, with the pin flag or without a reference.
#include <windows.h>

#include "foundation/module_pin.h"
#include "foundation/system_error.h"

namespace plx {

void pinOwnModule() noexcept {
  const SystemErrorPreserver keepError;
  // Any address inside this module names it; the handle of a pinned module
  // needs no release.
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&pinOwnModule)),
                       &module);
}

bool moduleHoldsAddress(const void* address) noexcept {
  const SystemErrorPreserver keepError;
  HMODULE module = nullptr;
  return ::GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
             static_cast<LPCWSTR>(address), &module) != 0;
}

}  // namespace plx
