// POSIX only: the library's own path through dladdr.
#include <dlfcn.h>

#include <stdexcept>

#include "reference/sdk/module_directory.h"

namespace vfpcsdk {

namespace {
// Any address inside this library serves; a data address needs no cast from
// a function pointer.
const char anchor = 0;
}  // namespace

std::filesystem::path moduleDirectory() {
  Dl_info info{};
  if (::dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') {
    throw std::runtime_error("dladdr cannot name the library that holds the SDK");
  }
  // dli_fname is the name the library was opened by, which may be relative
  // to the directory current at that time; the plug-in opens it by full path.
  return std::filesystem::absolute(std::filesystem::path(info.dli_fname)).parent_path();
}

}  // namespace vfpcsdk
