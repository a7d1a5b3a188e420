// The certificate path on Windows. WinHTTP trusts the Windows store only, so
// when a certificate path is set the SDK reads its PEM certificates into an
// in-memory store, lets the handshake complete without the system's verdict
// on the root, and verifies the server's certificate itself before any byte
// of the request goes out.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "foundation/unique_resource.h"

namespace vfpcsdk {

struct CertificateTraits {
  using Handle = PCCERT_CONTEXT;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle certificate) noexcept { ::CertFreeCertificateContext(certificate); }
};
using Certificate = plx::UniqueResource<CertificateTraits>;

struct CertificateStoreTraits {
  using Handle = HCERTSTORE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle store) noexcept { ::CertCloseStore(store, 0); }
};

class CertificateTrust {
 public:
  // Reads a PEM file, or every file of a directory (OpenSSL's hashed <hash>.0
  // files included). Never throws for a bad path: a path that yields no
  // certificate makes every verification fail with the reason.
  CertificateTrust(const std::string& path, bool directory);

  // Whether the server's certificate chains to a certificate of the path,
  // with nothing else wrong (validity, usage, the server's name); when not,
  // why, in words for the log line.
  bool verify(PCCERT_CONTEXT server, const std::wstring& serverName, std::string& why) const;

 private:
  bool fromPath(PCCERT_CONTEXT root) const;

  plx::UniqueResource<CertificateStoreTraits> store_;
  std::string unusable_;  // why the path gives no trust at all
};

}  // namespace vfpcsdk
