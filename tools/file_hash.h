// SHA-256 for --hash-files: the hash a cloud lookup goes by, computed from
// the file instead of typed in by hand.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace fpcheck {

// One SHA-256 computation (file_hash_posix.cpp: OpenSSL's libcrypto;
// file_hash_win32.cpp: Windows CNG). Throws std::runtime_error when the
// library fails, which does not happen short of running out of memory.
class Sha256 {
 public:
  using Digest = std::array<unsigned char, 32>;

  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const char* bytes, std::size_t size);
  Digest finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// 64 lower-case hexadecimal digits.
std::string hexText(const Sha256::Digest& digest);

// The SHA-256 of bytes in memory.
std::string sha256Hex(const char* bytes, std::size_t size);

// The SHA-256 of a regular file, read in blocks so that memory stays the
// same for a file of any size. False with the reason ("cannot hash 'PATH':
// ...") when it is not a regular file or cannot be read.
bool sha256File(const std::string& path, std::string& hex, std::string& reason);

}  // namespace fpcheck
