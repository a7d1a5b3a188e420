// POSIX only: dlopen and friends.
#include <dlfcn.h>

#include "foundation/dynamic_library.h"
#include "foundation/utf_convert.h"

namespace plx {

void LibraryTraits::close(Handle handle) noexcept { ::dlclose(handle); }

void pinLibraryOf(const void* address) noexcept {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
  // A further reference that is never given back, on a library that is
  // already loaded; RTLD_NODELETE keeps it even past a stray dlclose.
  static_cast<void>(::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE));
}

namespace detail {

void* openLibrary(const std::string& path) {
  // dlopen would take any bytes, but a path is UTF-8 on every platform: one
  // that Windows cannot convert for LoadLibraryW is refused here as well, with
  // the same exception, rather than loading on one platform only.
  static_cast<void>(utf8ToUtf16(path));
  // RTLD_LOCAL keeps the library's symbols out of the process's global scope,
  // like a Windows module; RTLD_NOW reports missing dependencies at load.
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(void* handle, const char* name) noexcept {
  ::dlerror();  // a null symbol value is only an error if dlerror says so
  return ::dlsym(handle, name);
}

void describeLoadFailure(std::string& message) {
  // dlopen sets no reliable errno; its own text is the reason. It is kept per
  // thread until the next dl call, so it is still the failing call's text.
  const char* reason = ::dlerror();
  if (reason == nullptr) return;
  message += ". ";
  message += reason;
}

char pathSeparator() noexcept { return '/'; }
const char* sharedLibraryPrefix() noexcept { return "lib"; }
const char* sharedLibrarySuffix() noexcept { return ".so"; }

}  // namespace detail
}  // namespace plx
