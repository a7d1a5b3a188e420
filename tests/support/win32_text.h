// Windows only: the UTF-16 text the Win32 calls take, and command lines.
#pragma once

#include <filesystem>
#include <string>

namespace kesp::test {

// UTF-8 text as UTF-16.
inline std::wstring wide(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

// One argument quoted so that the child's command-line split
// (CommandLineToArgvW) gives it back: backslashes are literal unless they
// precede a quote.
inline std::wstring quoted(const std::wstring& argument) {
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  result.append(backslashes * 2, L'\\');
  return result + L"\"";
}

}  // namespace kesp::test
