// Windows CNG (bcrypt.dll).
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>
#include <string>

#include "foundation/unique_resource.h"
#include "tools/file_hash.h"

namespace fpcheck {

namespace {

void require(NTSTATUS status, const char* call) {
  if (!BCRYPT_SUCCESS(status)) {
    throw std::runtime_error(std::string("SHA-256 failed: ") + call + " returned " +
                             std::to_string(static_cast<long>(status)));
  }
}

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle algorithm) noexcept { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle hash) noexcept { ::BCryptDestroyHash(hash); }
};

}  // namespace

// Declared in this order so that the hash goes before the provider it was
// made from.
struct Sha256::State {
  plx::UniqueResource<AlgorithmTraits> algorithm;
  plx::UniqueResource<HashTraits> hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  require(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
          "BCryptOpenAlgorithmProvider");
  state_->algorithm.reset(algorithm);
  // No hash object buffer: CNG allocates it (Windows 7 and later).
  BCRYPT_HASH_HANDLE hash = nullptr;
  require(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
  state_->hash.reset(hash);
}

Sha256::~Sha256() = default;

void Sha256::update(const char* bytes, std::size_t size) {
  // BCryptHashData takes a 32-bit length.
  constexpr std::size_t kMost = ULONG{1} << 30;
  do {
    const std::size_t part = size < kMost ? size : kMost;
    require(::BCryptHashData(state_->hash.get(),
                             reinterpret_cast<PUCHAR>(const_cast<char*>(bytes)),
                             static_cast<ULONG>(part), 0),
            "BCryptHashData");
    bytes += part;
    size -= part;
  } while (size > 0);
}

Sha256::Digest Sha256::finish() {
  Digest digest{};
  require(::BCryptFinishHash(state_->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0),
          "BCryptFinishHash");
  return digest;
}

}  // namespace fpcheck
