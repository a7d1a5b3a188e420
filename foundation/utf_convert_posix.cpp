// A strict converter with the contract of the Win32 ones: it refuses overlong
// forms, encoded surrogates, code points above U+10FFFF, truncated sequences
// and unpaired UTF-16 surrogates, and reports the needed size when given no
// output.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/utf8_text.h"
#include "foundation/utf_convert.h"

namespace plx::detail {

namespace {

// Decodes one code point at source[i]; returns its byte length, or 0 when the
// sequence is not well-formed UTF-8 (Unicode table 3-7).
int decodeUtf8(const unsigned char* s, int length, int i, std::uint32_t& codePoint) noexcept {
  const unsigned char lead = s[i];
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  const Utf8Lead rule = utf8Lead(lead);
  const int count = rule.count;
  if (count < 2) return 0;
  codePoint = lead & (0x7Fu >> count);
  const unsigned char low = rule.low;
  const unsigned char high = rule.high;
  if (length - i < count) return 0;
  for (int k = 1; k < count; ++k) {
    const unsigned char c = s[i + k];
    const unsigned char min = k == 1 ? low : 0x80;
    const unsigned char max = k == 1 ? high : 0xBF;
    if (c < min || c > max) return 0;
    codePoint = (codePoint << 6) | (c & 0x3Fu);
  }
  return count;
}

// The end of the run of ASCII units that starts at text[i], testing eight
// bytes at a time: a unit is ASCII when no bit from 0x80 up is set.
template <class Unit>
int endOfAscii(const Unit* text, int i, int length) noexcept {
  static_assert(sizeof(Unit) == 1 || sizeof(Unit) == 2);
  constexpr std::uint64_t kHighBits =
      sizeof(Unit) == 1 ? 0x8080808080808080ull : 0xFF80FF80FF80FF80ull;
  constexpr int kUnitsPerWord = 8 / sizeof(Unit);
  int end = i;
  while (length - end >= kUnitsPerWord) {
    std::uint64_t word = 0;
    std::memcpy(&word, text + end, sizeof word);
    if ((word & kHighBits) != 0) break;
    end += kUnitsPerWord;
  }
  while (end < length && text[end] < 0x80) ++end;
  return end;
}

}  // namespace

int utf8ToUtf16Units(const char* source, int length, char16_t* output, int capacity) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  std::int64_t written = 0;
  for (int i = 0; i < length;) {
    if (s[i] < 0x80) {
      // Paths and names are mostly ASCII, and every check of a file converts
      // its path: a run of ASCII is widened byte for unit, with nothing to
      // decode.
      const int end = endOfAscii(s, i, length);
      const int count = end - i;
      if (output != nullptr) {
        if (count > capacity - written) return 0;
        std::copy(s + i, s + end, output + written);
      }
      // No overflow test: UTF-16 never takes more units than UTF-8 has bytes.
      written += count;
      i = end;
      continue;
    }
    std::uint32_t codePoint = 0;
    const int step = decodeUtf8(s, length, i, codePoint);
    if (step == 0) return 0;
    i += step;
    const int units = codePoint >= 0x10000 ? 2 : 1;
    if (output != nullptr) {
      if (written + units > capacity) return 0;
      if (units == 2) {
        codePoint -= 0x10000;
        output[written] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
        output[written + 1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
      } else {
        output[written] = static_cast<char16_t>(codePoint);
      }
    }
    written += units;
    if (written > 2147483647) return 0;
  }
  return static_cast<int>(written);
}

int utf16ToUtf8Units(const char16_t* source, int length, char* output, int capacity) noexcept {
  std::int64_t written = 0;
  for (int i = 0; i < length; ++i) {
    if (source[i] < 0x80) {
      // A run of ASCII, narrowed unit for byte, as above.
      const int end = endOfAscii(source, i, length);
      const int count = end - i;
      if (output != nullptr) {
        if (count > capacity - written) return 0;
        std::transform(source + i, source + end, output + written,
                       [](char16_t unit) { return static_cast<char>(unit); });
      }
      written += count;
      if (written > 2147483647) return 0;
      i = end - 1;  // the loop steps past the run
      continue;
    }
    std::uint32_t codePoint = source[i];
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
      if (i + 1 >= length) return 0;
      const std::uint32_t low = source[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return 0;
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
      return 0;
    }
    unsigned char bytes[4];
    int count = 0;
    if (codePoint < 0x80) {
      bytes[count++] = static_cast<unsigned char>(codePoint);
    } else if (codePoint < 0x800) {
      bytes[count++] = static_cast<unsigned char>(0xC0 | (codePoint >> 6));
      bytes[count++] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
      bytes[count++] = static_cast<unsigned char>(0xE0 | (codePoint >> 12));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    } else {
      bytes[count++] = static_cast<unsigned char>(0xF0 | (codePoint >> 18));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((codePoint >> 12) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    }
    if (output != nullptr) {
      if (written + count > capacity) return 0;
      for (int k = 0; k < count; ++k) output[written + k] = static_cast<char>(bytes[k]);
    }
    written += count;
    if (written > 2147483647) return 0;
  }
  return static_cast<int>(written);
}

}  // namespace plx::detail
