#include "foundation/utf_convert.h"

#include <cstdint>

#include "foundation/exceptions.h"

namespace plx {

namespace {
// The system converters take the length as a signed 32-bit int.
constexpr std::size_t kMaxSourceUnits = 2147483647;
// Up to this many bytes (any path or name) UTF-8 is converted in one pass.
constexpr std::size_t kOnePassUnits = 65536;

template <class Output, class Input, class Convert>
Output convert(Input text, Convert convertUnits, const char* tooLong, const char* noSize,
               const char* failed) {
  if (text.empty()) return Output();
  if (text.size() > kMaxSourceUnits) throw ConversionStringException(tooLong);
  const int sourceLength = static_cast<int>(text.size());
  const int needed = convertUnits(text.data(), sourceLength, nullptr, 0);
  if (needed <= 0) throw ConversionStringException(noSize);
  Output result(static_cast<std::size_t>(needed), typename Output::value_type{});
  if (convertUnits(text.data(), sourceLength, result.data(), needed) == 0) {
    throw ConversionStringException(failed);
  }
  return result;
}
}  // namespace

Utf16String utf8ToUtf16(std::string_view text) {
  if (text.empty()) return Utf16String();
  if (text.size() > kMaxSourceUnits) {
    throw ConversionStringException(
        "Source size exceeds the limit for Utf-8 to Utf-16 conversion");
  }
  // A long text is measured first: room for its whole length would cost
  // twice its bytes, zeroed, before a byte of it is read (4 GiB for the
  // largest, or bad_alloc in place of the refusal its first byte earns).
  if (text.size() > kOnePassUnits) {
    return convert<Utf16String>(text, detail::utf8ToUtf16Units,
                                "Source size exceeds the limit for Utf-8 to Utf-16 conversion",
                                "Cannot get needed size for Utf-8 to Utf-16 conversion",
                                "Cannot perform Utf-8 to Utf-16 conversion");
  }
  // UTF-16 never takes more units than UTF-8 has bytes, so one pass into room
  // for the source's length replaces the measuring pass: every file check
  // converts its path. With that much room, the pass fails only for input
  // that the measuring pass refuses, so the message is the measuring one.
  const int sourceLength = static_cast<int>(text.size());
  Utf16String result(text.size(), u'\0');
  const int written =
      detail::utf8ToUtf16Units(text.data(), sourceLength, result.data(), sourceLength);
  if (written <= 0) {
    throw ConversionStringException("Cannot get needed size for Utf-8 to Utf-16 conversion");
  }
  result.resize(static_cast<std::size_t>(written));
  return result;
}

std::string utf16ToUtf8(std::u16string_view text) {
  return convert<std::string>(text, detail::utf16ToUtf8Units,
                              "Source size exceeds the limit for Utf-16 to Utf-8 conversion",
                              "Cannot get needed size for Utf-16 to Utf-8 conversion",
                              "Cannot perform Utf-16 to Utf-8 conversion");
}

}  // namespace plx
