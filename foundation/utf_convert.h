// Strict UTF-8 <-> UTF-16 conversion. Invalid input (malformed UTF-8,
// unpaired surrogates) is refused, never replaced.
#pragma once

#include <string>
#include <string_view>

namespace plx {

using Utf16String = std::u16string;

// Both throw ConversionStringException. Empty input gives empty output;
// inputs longer than 2147483647 units are refused. Embedded zeros convert.
Utf16String utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

namespace detail {
// The platform converters, with the contract of MultiByteToWideChar /
// WideCharToMultiByte (strict flags, explicit length): with a null output
// they return the units needed, otherwise the units written; 0 on invalid
// input or a too small output.
int utf8ToUtf16Units(const char* source, int length, char16_t* output, int capacity) noexcept;
int utf16ToUtf8Units(const char16_t* source, int length, char* output, int capacity) noexcept;
}  // namespace detail

}  // namespace plx
