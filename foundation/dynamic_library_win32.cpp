// Win32 only: LoadLibraryExW and friends, the module's file name and its
// version resource.
#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

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

struct LocalFreer {
  void operator()(wchar_t* text) const noexcept { ::LocalFree(text); }
};

// The system's own words for an error code, as dlerror gives them on POSIX:
// in English where the system has it (support reads these lines), else in
// the system's language; empty when it has none.
std::string systemMessage(DWORD code) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS;
  for (const DWORD language : {DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, DWORD{0}}) {
    wchar_t* buffer = nullptr;
    DWORD length = ::FormatMessageW(kFlags, nullptr, code, language,
                                    reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreer> owner(buffer);
    if (length == 0 || buffer == nullptr) continue;
    // The text ends in a line break, which a log line must not carry.
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                          buffer[length - 1] == L' ')) {
      --length;
    }
    try {
      return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
    } catch (const ConversionStringException&) {
      return "";
    }
  }
  return "";
}

std::string versionText(const VS_FIXEDFILEINFO& fixed) {
  return std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." +
         std::to_string(LOWORD(fixed.dwFileVersionLS));
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

void describeLoadFailure(std::string& message) {
  const DWORD code = ::GetLastError();
  appendSystemErrorCode(message);
  if (code == 0) return;
  const std::string words = systemMessage(code);
  if (!words.empty()) message += " (" + words + ")";
}

std::string loadedFilePath(void* handle) {
  // A full path may be longer than MAX_PATH; a result that fills the buffer
  // may have been cut.
  std::vector<wchar_t> name(MAX_PATH);
  while (name.size() <= 32768) {
    const DWORD length = ::GetModuleFileNameW(static_cast<HMODULE>(handle), name.data(),
                                              static_cast<DWORD>(name.size()));
    if (length == 0) return "";
    if (length < name.size()) {
      return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), length));
    }
    name.resize(name.size() * 2);
  }
  return "";
}

std::string carriedIdentity(void*, const std::string& path) {
  static constexpr char kNone[] = "no file version";
  if (path.empty()) return kNone;
  const Utf16String widePath = utf8ToUtf16(path);
  const auto* name = reinterpret_cast<const wchar_t*>(widePath.c_str());
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(name, &ignored);
  if (size == 0) return kNone;
  std::vector<unsigned char> data(size);
  void* fixed = nullptr;
  UINT length = 0;
  if (!::GetFileVersionInfoW(name, 0, size, data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", &fixed, &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return kNone;
  }
  return "file version " + versionText(*static_cast<const VS_FIXEDFILEINFO*>(fixed));
}

char pathSeparator() noexcept { return '\\'; }
const char* sharedLibraryPrefix() noexcept { return ""; }
const char* sharedLibrarySuffix() noexcept { return ".dll"; }

}  // namespace detail
}  // namespace plx
