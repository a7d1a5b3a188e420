#include "tests/support/test_certificates.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tests/support/openssl_command.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

const char kServerNames[] = "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
const char kOtherHostNames[] = "subjectAltName=DNS:other-host.example\n";
const char kLeafUsage[] =
    "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
    "extendedKeyUsage=serverAuth\n";
const char kCaUsage[] = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n";

// The DER bytes of a PEM file's first block.
std::vector<std::uint8_t> derOf(const std::string& pemFile) {
  std::ifstream in{fromUtf8(pemFile)};
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  const auto begin = text.find('\n', text.find("-----BEGIN "));
  const auto end = text.find("-----END ", begin);
  std::vector<std::uint8_t> der;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = begin; begin != std::string::npos && i < end; ++i) {
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto value = kAlphabet.find(text[i]);
    if (value == std::string_view::npos) continue;  // line breaks and padding
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if ((count += 6) >= 8) der.push_back(static_cast<std::uint8_t>(bits >> (count -= 8)));
  }
  return der;
}

// One DER element: its tag and where its content lies in the buffer.
struct DerElement {
  std::uint8_t tag;
  std::size_t content;
  std::size_t length;
  std::size_t end() const { return content + length; }
};

std::optional<DerElement> derElementAt(const std::vector<std::uint8_t>& der, std::size_t at) {
  if (at + 2 > der.size()) return std::nullopt;
  DerElement element{der[at], at + 2, der[at + 1]};
  if (element.length >= 0x80) {
    const std::size_t bytes = element.length - 0x80;
    if (bytes == 0 || bytes > 3 || at + 2 + bytes > der.size()) return std::nullopt;
    element.length = 0;
    for (std::size_t i = 0; i < bytes; ++i) element.length = (element.length << 8) | der[at + 2 + i];
    element.content += bytes;
  }
  if (element.end() > der.size()) return std::nullopt;
  return element;
}

// Whether both integers of the certificate's P-256 signature take all 32
// bytes. Wine's crypt32 (8.0) verifies an ECDSA signature only then: one in
// about 128 has a shorter r or s, and Wine calls it invalid, so that every
// check of a Windows test whose server certificate (or CA) drew one fails.
bool fullWidthSignature(const std::string& pemFile) {
  const auto der = derOf(pemFile);
  // Certificate: SEQUENCE { to-be-signed, algorithm, BIT STRING { unused
  // bits, SEQUENCE { INTEGER r, INTEGER s } } }.
  const auto certificate = derElementAt(der, 0);
  if (!certificate) return false;
  const auto signed_ = derElementAt(der, certificate->content);
  const auto algorithm = signed_ ? derElementAt(der, signed_->end()) : std::nullopt;
  const auto bits = algorithm ? derElementAt(der, algorithm->end()) : std::nullopt;
  const auto pair = bits ? derElementAt(der, bits->content + 1) : std::nullopt;
  const auto r = pair ? derElementAt(der, pair->content) : std::nullopt;
  const auto s = r ? derElementAt(der, r->end()) : std::nullopt;
  if (!s) return false;
  for (const auto& integer : {*r, *s}) {
    std::size_t first = integer.content;
    while (first < integer.end() && der[first] == 0) ++first;
    if (integer.end() - first != 32) return false;
  }
  return true;
}

class CertificateMaker {
 public:
  explicit CertificateMaker(const TempDir& dir) : dir_(dir) {}

  // openssl with the arguments; its standard output and error go to a file
  // that the failure quotes.
  void openssl(std::vector<std::string> arguments) {
    const std::string log = dir_.file("openssl.log");
    const bool ok = runOpenssl(arguments, log) == 0;
    if (ok) return;
    std::string command = "openssl ";
    for (const auto& argument : arguments) command += argument + " ";
    std::ifstream in{fromUtf8(log)};
    throw std::runtime_error("test certificates: '" + command + "' failed: " +
                             std::string(std::istreambuf_iterator<char>(in), {}));
  }

  std::string write(const std::string& name, const std::string& text) {
    const std::string path = dir_.file(name);
    std::ofstream(path) << text;
    return path;
  }

  std::string key(const std::string& name) {
    const std::string path = dir_.file(name + ".key");
    // P-256 keys: made in milliseconds, unlike RSA.
    openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", path});
    return path;
  }

  // A self-signed CA: returns its certificate; its key is name.key.
  std::string rootCa(const std::string& name) {
    const std::string caKey = key(name);
    const std::string cert = dir_.file(name + ".pem");
    untilFullWidth(cert, [&] {
      openssl({"req", "-x509", "-new", "-key", caKey, "-subj", "/CN=" + name, "-days", "2",
               "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
               "keyUsage=critical,keyCertSign,cRLSign", "-out", cert});
    });
    return cert;
  }

  // A certificate for name signed by the CA issuer (issuer.pem, issuer.key).
  ServerCertificate sign(const std::string& name, const std::string& issuer,
                         const std::string& extensions, int days) {
    ServerCertificate made{dir_.file(name + ".pem"), key(name)};
    const std::string request = dir_.file(name + ".csr");
    openssl({"req", "-new", "-key", made.key, "-subj", "/CN=" + name, "-out", request});
    const std::string extensionFile = write(name + ".ext", extensions);
    untilFullWidth(made.cert, [&] {
      openssl({"x509", "-req", "-in", request, "-CA", dir_.file(issuer + ".pem"), "-CAkey",
               dir_.file(issuer + ".key"), "-CAcreateserial", "-days", std::to_string(days),
               "-extfile", extensionFile, "-out", made.cert});
    });
    return made;
  }

  // Signs (each signature draws a fresh nonce) until the signature of cert
  // is full-width; about one signature in 128 needs a second round.
  template <typename Sign>
  void untilFullWidth(const std::string& cert, Sign sign) {
    for (int round = 0; round < 16; ++round) {
      sign();
      if (fullWidthSignature(cert)) return;
    }
    throw std::runtime_error("test certificates: no full-width signature for " + cert +
                             " in 16 rounds");
  }

 private:
  const TempDir& dir_;
};

struct MadeCertificates {
  TempDir dir;
  TestCertificates certificates;

  MadeCertificates() {
    CertificateMaker make(dir);
    auto& c = certificates;
    c.caFile = make.rootCa("ca");
    c.otherCaFile = make.rootCa("other-ca");
    c.server = make.sign("server", "ca", std::string(kLeafUsage) + kServerNames, 2);
    // -days -1 ends the validity a day before it starts: expired now.
    c.expired = make.sign("expired", "ca", std::string(kLeafUsage) + kServerNames, -1);
    c.otherHost = make.sign("other-host", "ca", std::string(kLeafUsage) + kOtherHostNames, 2);
    make.sign("intermediate", "ca", kCaUsage, 2);
    const ServerCertificate leaf =
        make.sign("chain-leaf", "intermediate", std::string(kLeafUsage) + kServerNames, 2);
    std::ifstream leafText(leaf.cert), intermediateText(dir.file("intermediate.pem"));
    c.chain = {make.write("chain.pem", std::string(std::istreambuf_iterator<char>(leafText), {}) +
                                           std::string(std::istreambuf_iterator<char>(intermediateText), {})),
               leaf.key};

    // The hashed form: the CA under <subject hash>.0 in a directory of its own.
    make.openssl({"x509", "-hash", "-noout", "-in", c.caFile, "-out", dir.file("ca.hash")});
    std::string hash;
    std::ifstream(dir.file("ca.hash")) >> hash;
    c.caDirectory = dir.file("ca-dir");
    std::filesystem::create_directory(c.caDirectory);
    std::filesystem::copy_file(c.caFile, c.caDirectory + "/" + hash + ".0");
  }
};

}  // namespace

const TestCertificates& testCertificates() {
  // Destroyed at exit, and with it the directory and every key.
  static const MadeCertificates made;
  return made.certificates;
}

}  // namespace kesp::test
