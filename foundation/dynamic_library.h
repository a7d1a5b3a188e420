// An owner of one dynamic library loaded at run time.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "foundation/unique_resource.h"

namespace plx {

// The file a loaded library came from, as a support case needs it named.
struct LibraryFile {
  // The full path of the loaded file (UTF-8); empty when the system does not
  // tell it.
  std::string path;
  // What identifies the build, then the file's size and modification time:
  // "file version 2.1.0.29, 301056 bytes, modified 2025-03-04 05:06:07 UTC".
  // The first part is what the file carries: its version resource on
  // Windows ("file version ..." or "no file version"), its GNU build id on
  // ELF systems ("build id 0123abcd..." or "no build id").
  std::string identity;
};

struct LibraryTraits {
  using Handle = void*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle handle) noexcept;  // FreeLibrary / dlclose
};
using LibraryHandle = UniqueResource<LibraryTraits>;

// Holds a loaded library from construction to destruction (or until moved
// from). Whoever uses code of the library must be gone before it is freed.
class DynamicLibrary {
 public:
  // Loads the library at path (UTF-8). On Windows a full path ("C:\dir\...",
  // "\\server\share\...") is loaded with LoadLibraryExW and
  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, so the
  // library's own imports come only from its directory and the system's,
  // never from the current directory or PATH. A bare or relative name is the
  // caller's choice of the system's search order (LoadLibraryW). On POSIX a
  // path with a slash is opened as it is, and the library finds its imports
  // through its own RUNPATH. The process-wide search path is never changed.
  // Throws LoadingLibraryException (empty path, load failure; the detail
  // names the path and the system's reason) or ConversionStringException
  // (path not valid UTF-8).
  explicit DynamicLibrary(const std::string& path);

  DynamicLibrary(DynamicLibrary&&) noexcept = default;
  DynamicLibrary& operator=(DynamicLibrary&&) noexcept = default;

  // The address of the export name. Throws LoadingLibrarySymbolException,
  // naming the symbol, when there is none; the library stays loaded.
  void* getSymbol(const char* name) const;

  // Gives up the library without freeing it: it stays mapped for the life of
  // the process. For when code of the library may still run.
  void keepLoaded() noexcept { (void)handle_.release(); }

  // The loaded file and what identifies it. Reads the file's metadata; only
  // memory exhaustion is thrown, whatever cannot be read is said so.
  LibraryFile file() const;

  template <class Function>
  Function getFunction(const char* name) const {
    return reinterpret_cast<Function>(getSymbol(name));
  }

 private:
  LibraryHandle handle_;
};

// Joins path components with the platform's separator, never doubling one
// that a component already ends with; empty components add no separator.
std::string joinPath(std::initializer_list<std::string_view> components);

// The file name of a shared library on this platform: "name.dll" on Windows,
// "libname.so" elsewhere.
std::string sharedLibraryFileName(std::string_view name);

namespace detail {
// The platform's part: each returns null on failure and leaves the reason
// where describeLoadFailure finds it.
void* openLibrary(const std::string& path);
void* findSymbol(void* handle, const char* name) noexcept;
// Appends the reason of the last failed openLibrary or findSymbol on this
// thread: the system error code on Windows, the dlerror() text elsewhere.
void describeLoadFailure(std::string& message);
// The full path of the loaded module, or empty.
std::string loadedFilePath(void* handle);
// What the loaded file carries to identify its build (see LibraryFile).
std::string carriedIdentity(void* handle, const std::string& path);
char pathSeparator() noexcept;
const char* sharedLibraryPrefix() noexcept;
const char* sharedLibrarySuffix() noexcept;
}  // namespace detail

}  // namespace plx
