#include "foundation/utf8_text.h"

namespace plx {

namespace {

// The length of the sequence at text[i] when it is well-formed (positive),
// or of its maximal subpart, negated.
int sequenceAt(std::string_view text, std::size_t i) noexcept {
  const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const Utf8Lead lead = utf8Lead(byteAt(i));
  if (lead.count == 0) return -1;
  int length = 1;
  for (; length < lead.count; ++length) {
    if (i + length >= text.size()) return -length;
    const unsigned char next = byteAt(i + length);
    const unsigned char low = length == 1 ? lead.low : 0x80;
    const unsigned char high = length == 1 ? lead.high : 0xBF;
    if (next < low || next > high) return -length;
  }
  return length;
}

}  // namespace

std::size_t firstInvalidUtf8(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size();) {
    const int length = sequenceAt(text, i);
    if (length < 0) return i;
    i += static_cast<std::size_t>(length);
  }
  return std::string_view::npos;
}

std::string replaceInvalidUtf8(std::string_view text) {
  std::size_t i = firstInvalidUtf8(text);
  std::string mended(text.substr(0, i));
  while (i < text.size()) {
    const int length = sequenceAt(text, i);
    if (length > 0) {
      mended.append(text.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
    } else {
      mended.append("\xEF\xBF\xBD");  // U+FFFD
      i += static_cast<std::size_t>(-length);
    }
  }
  return mended;
}

}  // namespace plx
