// Windows CNG (bcrypt.dll).
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>
#include <string>

#include "tools/file_hash.h"

namespace fpcheck {

namespace {

void require(NTSTATUS status, const char* call) {
  if (!BCRYPT_SUCCESS(status)) {
    throw std::runtime_error(std::string("SHA-256 failed: ") + call + " returned " +
                             std::to_string(static_cast<long>(status)));
  }
}

}  // namespace

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
    if (algorithm != nullptr) ::BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  require(::BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
          "BCryptOpenAlgorithmProvider");
  // No hash object buffer: CNG allocates it (Windows 7 and later).
  require(::BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0),
          "BCryptCreateHash");
}

Sha256::~Sha256() = default;

void Sha256::update(const char* bytes, std::size_t size) {
  // BCryptHashData takes a 32-bit length.
  constexpr std::size_t kMost = ULONG{1} << 30;
  do {
    const std::size_t part = size < kMost ? size : kMost;
    require(::BCryptHashData(state_->hash,
                             reinterpret_cast<PUCHAR>(const_cast<char*>(bytes)),
                             static_cast<ULONG>(part), 0),
            "BCryptHashData");
    bytes += part;
    size -= part;
  } while (size > 0);
}

Sha256::Digest Sha256::finish() {
  Digest digest{};
  require(::BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0),
          "BCryptFinishHash");
  return digest;
}

}  // namespace fpcheck
