// Win32 only: the system's strict converters.
#include <windows.h>

#include "foundation/utf_convert.h"

namespace plx::detail {

int utf8ToUtf16Units(const char* source, int length, char16_t* output, int capacity) noexcept {
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, source, length,
                               reinterpret_cast<wchar_t*>(output), capacity);
}

int utf16ToUtf8Units(const char16_t* source, int length, char* output, int capacity) noexcept {
  return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS,
                               reinterpret_cast<const wchar_t*>(source), length, output, capacity,
                               nullptr, nullptr);
}

}  // namespace plx::detail
