#include <dlfcn.h>

#include "tests/plugin/library_mapped.h"

namespace kesp::test {

bool isLibraryMapped(const std::string& path) {
  // RTLD_NOLOAD hands out a further reference only to a library already there.
  void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

}  // namespace kesp::test
