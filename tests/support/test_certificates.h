// Certificates for the network tests, made with the openssl command the first
// time a test program asks, in a temporary directory removed when the program
// ends. Every key is made here and lives only as long as the run.
#pragma once

#include <string>

namespace kesp::test {

struct ServerCertificate {
  std::string cert;  // PEM; for the chain, the server's certificate then the intermediate's
  std::string key;   // PEM private key
};

struct TestCertificates {
  std::string caFile;        // the CA that signed every server certificate below
  std::string caDirectory;   // the same CA in OpenSSL's hashed form: <hash>.0
  std::string otherCaFile;   // a CA that signed none of them

  ServerCertificate server;     // 127.0.0.1 and localhost (IP and DNS names)
  ServerCertificate chain;      // the same names, signed by an intermediate CA of caFile
  ServerCertificate expired;    // the same names, expired yesterday
  ServerCertificate otherHost;  // only for other-host.example
};

// Made once per test program; throws std::runtime_error naming the openssl
// command that failed.
const TestCertificates& testCertificates();

}  // namespace kesp::test
