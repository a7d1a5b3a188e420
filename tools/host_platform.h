// What fpcheck needs of the platform. Everything else in the tool is written
// once; host_platform_posix.cpp and host_platform_win32.cpp hold the calls.
#pragma once

#include <string>
#include <vector>

#include "foundation/unique_resource.h"

namespace fpcheck {

void closeLibrary(void* library) noexcept;
struct LibraryTraits {
  using Handle = void*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle library) noexcept { closeLibrary(library); }
};
using LibraryHandle = plx::UniqueResource<LibraryTraits>;

// Loads the library at the UTF-8 path; none on failure, with the system's
// reason in error.
LibraryHandle openLibrary(const std::string& path, std::string& error);
// The address of an export, or null.
void* findSymbol(void* library, const char* name) noexcept;

// The file name of the plug-in library: libvfpcchecker.so or vfpcchecker.dll,
// or of its checked build: libvfpcchecker_checked.so or vfpcchecker_checked.dll.
std::string pluginFileName(bool checked = false);
// The UTF-8 directory of the running program.
std::string executableDirectory();

// The program's arguments as UTF-8 (on Windows from the wide command line,
// whatever the code page).
std::vector<std::string> utf8Arguments(int argc, char** argv);
// Standard input and output pass bytes unchanged: a JSON line ends in "\n"
// on every platform.
void useBinaryStandardStreams();
// Whether standard error is a terminal, where a progress line makes sense.
bool standardErrorIsTerminal();

}  // namespace fpcheck
