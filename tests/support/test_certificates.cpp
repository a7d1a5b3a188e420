#include "tests/support/test_certificates.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
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
    openssl({"req", "-x509", "-new", "-key", caKey, "-subj", "/CN=" + name, "-days", "2",
             "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
             "keyUsage=critical,keyCertSign,cRLSign", "-out", cert});
    return cert;
  }

  // A certificate for name signed by the CA issuer (issuer.pem, issuer.key).
  ServerCertificate sign(const std::string& name, const std::string& issuer,
                         const std::string& extensions, int days) {
    ServerCertificate made{dir_.file(name + ".pem"), key(name)};
    const std::string request = dir_.file(name + ".csr");
    openssl({"req", "-new", "-key", made.key, "-subj", "/CN=" + name, "-out", request});
    openssl({"x509", "-req", "-in", request, "-CA", dir_.file(issuer + ".pem"), "-CAkey",
             dir_.file(issuer + ".key"), "-CAcreateserial", "-days", std::to_string(days),
             "-extfile", write(name + ".ext", extensions), "-out", made.cert});
    return made;
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
