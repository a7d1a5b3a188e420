#include <windows.h>

#include "foundation/utf_convert.h"
#include "tests/plugin/library_mapped.h"

namespace kesp::test {

bool isLibraryMapped(const std::string& path) {
  const plx::Utf16String widePath = plx::utf8ToUtf16(path);
  return ::GetModuleHandleW(reinterpret_cast<const wchar_t*>(widePath.c_str())) != nullptr;
}

}  // namespace kesp::test
