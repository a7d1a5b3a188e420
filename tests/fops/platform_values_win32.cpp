#include <windows.h>

#include "tests/fops/platform_values.h"

namespace kesp::test {

bool systemKeepsPointerBelow4GiB() {
  // Wine's ntdll exports wine_get_version; Windows' does not.
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

bool makeNamedPipe(const std::string&) { return false; }

}  // namespace kesp::test
