// Win32 only: LoadLibraryExW and friends.
#include <windows.h>

#include "foundation/dynamic_library.h"
#include "foundation/exceptions.h"
#include "foundation/utf_convert.h"

namespace plx {

void LibraryTraits::close(Handle handle) noexcept { ::FreeLibrary(static_cast<HMODULE>(handle)); }

namespace {

bool isSeparator(char c) noexcept { return c == '\\' || c == '/'; }

// "C:\dir\file.dll", "\\server\share\file.dll" or "\\?\C:\file.dll": a path
// that names one file whatever the current drive and directory are. "C:file"
// and "\dir\file" depend on them and count as relative.
bool isFullyQualified(const std::string& path) noexcept {
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) return true;
  const bool hasDrive = path.size() >= 3 && path[1] == ':' &&
                        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return hasDrive && isSeparator(path[2]);
}

}  // namespace

namespace detail {

void* openLibrary(const std::string& path) {
  HMODULE module = nullptr;
  DWORD loadError = 0;
  {
    const Utf16String widePath = utf8ToUtf16(path);
    const auto* name = reinterpret_cast<const wchar_t*>(widePath.c_str());
    // For a full path, the library's own imports come from its directory and
    // the system's only, never from the current directory or PATH, where
    // anyone who can write there could plant a library of the same name. The
    // flags act on this call alone; the process's search path is left as the
    // host set it. A relative path is the host's choice of the system's
    // search order, and LoadLibraryEx would refuse it with these flags.
    module = isFullyQualified(path)
                 ? ::LoadLibraryExW(name, nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                        LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
                 : ::LoadLibraryW(name);
    loadError = ::GetLastError();
  }
  // Freeing the wide path may touch the last error; the caller must still
  // see the load call's own value.
  ::SetLastError(loadError);
  return module;
}

void* findSymbol(void* handle, const char* name) noexcept {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle), name));
}

void describeLoadFailure(std::string& message) { appendSystemErrorCode(message); }

char pathSeparator() noexcept { return '\\'; }
const char* sharedLibraryPrefix() noexcept { return ""; }
const char* sharedLibrarySuffix() noexcept { return ".dll"; }

}  // namespace detail
}  // namespace plx
