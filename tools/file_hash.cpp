#include "tools/file_hash.h"

#include <vector>

#include "tools/bounded_file.h"

namespace fpcheck {

namespace {

// Small enough to stay in the processor's cache between the read and the hash.
constexpr std::size_t kBlockBytes = std::size_t{128} << 10;

}  // namespace

std::string hexText(const Sha256::Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

std::string sha256Hex(const char* bytes, std::size_t size) {
  Sha256 hash;
  hash.update(bytes, size);
  return hexText(hash.finish());
}

bool sha256File(const std::string& path, std::string& hex, std::string& reason) {
  RegularFile file;
  if (!file.open(path, "cannot hash '" + path + "'", reason)) return false;
  Sha256 hash;
  std::vector<char> block(kBlockBytes);
  for (;;) {
    std::size_t got = 0;
    if (!file.read(block.data(), block.size(), got, reason)) return false;
    if (got == 0) break;
    hash.update(block.data(), got);
  }
  hex = hexText(hash.finish());
  return true;
}

}  // namespace fpcheck
