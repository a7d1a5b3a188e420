// Win32 only: LoadLibraryW and friends.
#include <windows.h>

#include "foundation/dynamic_library.h"
#include "foundation/exceptions.h"
#include "foundation/utf_convert.h"

namespace plx {

void LibraryTraits::close(Handle handle) noexcept { ::FreeLibrary(static_cast<HMODULE>(handle)); }

namespace detail {

void* openLibrary(const std::string& path) {
  HMODULE module = nullptr;
  DWORD loadError = 0;
  {
    const Utf16String widePath = utf8ToUtf16(path);
    module = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(widePath.c_str()));
    loadError = ::GetLastError();
  }
  // Freeing the wide path may touch the last error; the caller must still
  // see LoadLibraryW's own value.
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
