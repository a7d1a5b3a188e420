// POSIX only.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "tools/host_platform.h"

namespace fpcheck {

LibraryHandle openLibrary(const std::string& path, std::string& error) {
  LibraryHandle library(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
  }
  return library;
}

void* findSymbol(void* library, const char* name) noexcept { return ::dlsym(library, name); }

void closeLibrary(void* library) noexcept { ::dlclose(library); }

std::string pluginFileName(bool checked) {
  return checked ? "libvfpcchecker_checked.so" : "libvfpcchecker.so";
}

std::string executableDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void useBinaryStandardStreams() {}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace fpcheck
