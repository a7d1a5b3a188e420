#include "reference/sdk/certificate_trust_win32.h"

#include <winhttp.h>  // SECURITY_FLAG_IGNORE_UNKNOWN_CA, the policy's flag too

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace vfpcsdk {

namespace {

constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEnd[] = "-----END CERTIFICATE-----";

std::filesystem::path fromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// Adds every PEM certificate of the text; returns how many.
int addPem(HCERTSTORE store, const std::string& text) {
  int added = 0;
  for (std::size_t begin = text.find(kBegin); begin != std::string::npos;
       begin = text.find(kBegin, begin + 1)) {
    const std::size_t end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    const std::string block = text.substr(begin, end + sizeof kEnd - 1 - begin);
    DWORD size = 0;
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
      continue;
    }
    if (::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                           der.data(), size, CERT_STORE_ADD_USE_EXISTING,
                                           nullptr)) {
      ++added;
    }
  }
  return added;
}

int addFile(HCERTSTORE store, const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return 0;
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return addPem(store, text);
}

// The chain's faults in words; only the ones a server's certificate can show.
std::string faultsOf(DWORD status) {
  static constexpr std::array<std::pair<DWORD, const char*>, 9> kFaults = {{
      {CERT_TRUST_IS_NOT_TIME_VALID, "a certificate of the chain is expired or not yet valid"},
      {CERT_TRUST_IS_REVOKED, "a certificate of the chain is revoked"},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "a signature of the chain is not valid"},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "the certificate is not for a TLS server"},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, "the chain ends at a root outside the certificate path"},
      {CERT_TRUST_IS_CYCLIC, "the chain is cyclic"},
      {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "a certificate of the chain may not sign others"},
      {CERT_TRUST_IS_PARTIAL_CHAIN, "the chain does not reach a root"},
      {CERT_TRUST_INVALID_EXTENSION, "a certificate of the chain has an invalid extension"},
  }};
  std::string words;
  for (const auto& [flag, text] : kFaults) {
    if ((status & flag) == 0) continue;
    if (!words.empty()) words += "; ";
    words += text;
  }
  if (words.empty()) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(status));
    words = std::string("the chain is not valid (status ") + text + ")";
  }
  return words;
}

std::string policyFault(DWORD error) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "the certificate does not name the server";
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "the certificate is expired or not yet valid";
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
      return "the chain ends at a root outside the certificate path";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "the certificate is not for a TLS server";
    case static_cast<DWORD>(CRYPT_E_REVOKED):
      return "the certificate is revoked";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(error));
      return std::string("the TLS server policy refused the certificate (") + text + ")";
    }
  }
}

struct ChainTraits {
  using Handle = PCCERT_CHAIN_CONTEXT;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle chain) noexcept { ::CertFreeCertificateChain(chain); }
};

}  // namespace

CertificateTrust::CertificateTrust(const std::string& path, bool directory)
    : store_(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr)) {
  if (!store_) {
    unusable_ = "no certificate store could be made for the certificate path";
    return;
  }
  int added = 0;
  const std::filesystem::path where = fromUtf8(path);
  if (directory) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(where, error), end; !error && entry != end;
         entry.increment(error)) {
      std::error_code ignored;
      if (entry->is_regular_file(ignored)) added += addFile(store_.get(), entry->path());
    }
  } else {
    added = addFile(store_.get(), where);
  }
  if (added == 0) unusable_ = "the certificate path '" + path + "' holds no PEM certificate";
}

bool CertificateTrust::fromPath(PCCERT_CONTEXT root) const {
  // Byte for byte: a root that merely shares a name and serial number with
  // a certificate of the path is another root.
  Certificate known;
  for (;;) {
    // The enumeration frees the context it is given and hands out the next.
    known.reset(::CertEnumCertificatesInStore(store_.get(), known.release()));
    if (!known) return false;
    if (known.get()->cbCertEncoded == root->cbCertEncoded &&
        std::memcmp(known.get()->pbCertEncoded, root->pbCertEncoded, root->cbCertEncoded) == 0) {
      return true;
    }
  }
}

bool CertificateTrust::verify(PCCERT_CONTEXT server, const std::wstring& serverName,
                              std::string& why) const {
  if (!unusable_.empty()) {
    why = unusable_;
    return false;
  }
  static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  // The path's certificates are an additional store: the chain may end at
  // one of them, which the engine reports as an untrusted root.
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!::CertGetCertificateChain(nullptr, server, nullptr, store_.get(), &parameters, 0, nullptr,
                                 &built)) {
    why = "the server's certificate chain cannot be built";
    return false;
  }
  const plx::UniqueResource<ChainTraits> chain(built);
  const DWORD status = built->TrustStatus.dwErrorStatus;
  if ((status & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT)) != 0 || built->cChain != 1 ||
      built->rgpChain[0]->cElement == 0) {
    why = faultsOf(status);
    return false;
  }
  const CERT_SIMPLE_CHAIN* simple = built->rgpChain[0];
  // Trusted by the system store or not, the root must be one of the path:
  // a certificate path replaces the system's trust, as on every platform.
  if (!fromPath(simple->rgpElement[simple->cElement - 1]->pCertContext)) {
    why = "the chain ends at a root outside the certificate path";
    return false;
  }
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;  // that root is ours: checked above
  ssl.pwszServerName = const_cast<wchar_t*>(serverName.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS verdict{};
  verdict.cbSize = sizeof verdict;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, built, &policy, &verdict)) {
    why = "the TLS server policy cannot be checked";
    return false;
  }
  if (verdict.dwError != 0) {
    why = policyFault(verdict.dwError);
    return false;
  }
  return true;
}

}  // namespace vfpcsdk
