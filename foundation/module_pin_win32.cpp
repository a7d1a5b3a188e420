// Win32 only: GetModuleHandleExW, with the pin flag or without a reference.
#include <windows.h>

#include "foundation/module_pin.h"
#include "foundation/system_error.h"

namespace plx {

void pinModuleAt(const void* address) noexcept {
  const SystemErrorPreserver keepError;
  // Any address inside a module names it; the handle of a pinned module
  // needs no release.
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       static_cast<LPCWSTR>(address), &module);
}

bool moduleHoldsAddress(const void* address) noexcept {
  const SystemErrorPreserver keepError;
  HMODULE module = nullptr;
  return ::GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
             static_cast<LPCWSTR>(address), &module) != 0;
}

}  // namespace plx
