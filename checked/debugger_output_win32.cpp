// Windows only: OutputDebugStringW.
#include <windows.h>

#include <array>

#include "checked/debugger_output.h"

namespace kesp::checked {

void sendToDebugger(const char* line) noexcept {
  // The lines are ASCII, so each byte is its own UTF-16 unit; a fixed
  // buffer keeps this free of allocation.
  std::array<wchar_t, 1026> wide{};
  std::size_t length = 0;
  for (; line[length] != '\0' && length < wide.size() - 2; ++length) {
    wide[length] = static_cast<unsigned char>(line[length]);
  }
  wide[length] = L'\n';
  ::OutputDebugStringW(wide.data());
}

}  // namespace kesp::checked
