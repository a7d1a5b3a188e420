// OpenSSL's libcrypto.
#include <openssl/evp.h>

#include <stdexcept>

#include "foundation/unique_resource.h"
#include "tools/file_hash.h"

namespace fpcheck {

namespace {

struct ContextTraits {
  using Handle = EVP_MD_CTX*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle context) noexcept { EVP_MD_CTX_free(context); }
};

void require(bool done, const char* call) {
  if (!done) throw std::runtime_error(std::string("SHA-256 failed: ") + call);
}

}  // namespace

struct Sha256::State {
  plx::UniqueResource<ContextTraits> context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  require(state_->context.valid(), "EVP_MD_CTX_new");
  require(EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) == 1, "EVP_DigestInit_ex");
}

Sha256::~Sha256() = default;

void Sha256::update(const char* bytes, std::size_t size) {
  require(EVP_DigestUpdate(state_->context.get(), bytes, size) == 1, "EVP_DigestUpdate");
}

Sha256::Digest Sha256::finish() {
  Digest digest{};
  unsigned int length = 0;
  require(EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) == 1 &&
              length == digest.size(),
          "EVP_DigestFinal_ex");
  return digest;
}

}  // namespace fpcheck
