// Well-formed UTF-8 (the Unicode Standard's table 3-7), and text mended
// where it is not. Platform-independent: for text that must reach a log or
// a report as UTF-8 whatever bytes it came with.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plx {

// How a UTF-8 sequence may go on after its lead byte: count bytes in all,
// the second in [low, high], any further one in [0x80, 0xBF]. A count of 0
// marks a byte that cannot lead (a continuation byte, C0, C1, F5 to FF).
struct Utf8Lead {
  int count;
  unsigned char low;
  unsigned char high;
};

constexpr Utf8Lead utf8Lead(unsigned char lead) noexcept {
  if (lead < 0x80) return {1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlong form
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no surrogate
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};  // no overlong form
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  return {0, 0, 0};
}

// The offset of the first byte that does not belong to a well-formed
// sequence, or std::string_view::npos when the whole text is well-formed.
std::size_t firstInvalidUtf8(std::string_view text) noexcept;

// text with each ill-formed part replaced by U+FFFD: one replacement for each
// maximal subpart (the longest start of a well-formed sequence, or else one
// byte), the practice the Unicode Standard recommends in section 3.9 and the
// WHATWG Encoding Standard requires. Well-formed text comes back unchanged.
std::string replaceInvalidUtf8(std::string_view text);

}  // namespace plx
