// POSIX only: dladdr, and dlopen with RTLD_NODELETE.
#include <dlfcn.h>

#include "foundation/module_pin.h"
#include "foundation/system_error.h"

namespace plx {

void pinModuleAt(const void* address) noexcept {
  const SystemErrorPreserver keepError;
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
  // RTLD_NOLOAD finds the module already loaded, and RTLD_NODELETE on it
  // makes every later dlclose leave it mapped. The reference this takes is
  // never given back, on purpose.
  static_cast<void>(::dlopen(info.dli_fname, RTLD_NOLOAD | RTLD_NODELETE | RTLD_NOW));
}

bool moduleHoldsAddress(const void* address) noexcept {
  const SystemErrorPreserver keepError;
  // dladdr looks the address up in the loader's list of objects and reads
  // nothing at it, so an address whose library is gone is safe to ask about.
  Dl_info info{};
  return ::dladdr(address, &info) != 0;
}

}  // namespace plx
