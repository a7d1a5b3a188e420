// fpcloud as a client meets it: verdicts, refusals, injected faults, TLS,
// slow clients and a clean stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <httplib.h>

#include "tests/support/cloud_service.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using Answer = std::pair<int, std::string>;

constexpr char kHash[] = "8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03";

std::string body(const std::string& detection, const std::string& hash = "") {
  std::string text = R"({"detection":")" + detection + R"(","size":18,"input":"file","host":"h")";
  if (!hash.empty()) text += R"(,"sha256":")" + hash + R"(")";
  return text + "}";
}

class Fpcloud : public ::testing::Test {
 protected:
  Fpcloud() {
    std::ofstream(rules) << "tp Adware.Toolbar.Bad\nfp Adware.Toolbar.*\nfp Trojan.Script.Phish "
                         << kHash << "\n";
  }

  CloudService& start(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--rules", rules});
    service = std::make_unique<CloudService>(arguments);
    client = std::make_unique<httplib::Client>("127.0.0.1", service->port());
    client->set_read_timeout(5);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return *service;
  }

  httplib::Result post(const std::string& text, const httplib::Headers& headers = {},
                       const std::string& path = "/v1/check") {
    return client->Post(path.c_str(), headers, text, "application/json");
  }
  // The answer's status; -1 when none came.
  static int status(const httplib::Result& result) { return result ? result->status : -1; }
  // The answer's status and body; -1 and nothing when none came.
  static Answer answer(const httplib::Result& result) { return {status(result), result ? result->body : ""}; }

  TempDir scratch;
  std::string rules = scratch.file("fp.rules");
  std::unique_ptr<CloudService> service;
  std::unique_ptr<httplib::Client> client;
};

// A request line is exact but for the milliseconds it took.
void expectRequestLine(const std::string& line, const std::string& before, const std::string& after) {
  EXPECT_TRUE(std::regex_match(line, std::regex(before + " [0-9]+ms" + after))) << line;
}

TEST_F(Fpcloud, AnswersVerdictsFromTheRulesFile) {
  auto& cloud = start();
  EXPECT_EQ(cloud.url(), "http://127.0.0.1:" + std::to_string(cloud.port()) + "/v1/check");
  struct Case {
    std::string detection, hash, verdict;
  };
  const Case cases[] = {
      {"Adware.Toolbar.Search", "", "true"},
      {"Adware.Toolbar.Bad", "", "false"},  // the first rule that applies decides
      {"Trojan.Script.Phish", kHash, "true"},
      {"Trojan.Script.Phish", "", "false"},  // the rule needs the hash
      {"Nothing.Matches", "", "false"},
  };
  for (const auto& c : cases) {
    const auto result = post(body(c.detection, c.hash));
    ASSERT_TRUE(result) << c.detection;
    EXPECT_EQ(answer(result), (Answer{200, R"({"falsePositive":)" + c.verdict + "}"})) << c.detection;
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");
  }
  ASSERT_TRUE(cloud.waitForRequests(5));
  expectRequestLine(cloud.requestLines()[0], "request 1 POST /v1/check 200", "");
  // One kept-alive connection for the five.
  EXPECT_EQ(cloud.stop(), "stopped: 5 requests, 1 connections, 0 handshakes");
  EXPECT_EQ(cloud.exitCode(), 0);
}

TEST_F(Fpcloud, SendsTheMaxAgeItWasGiven) {
  start({"--max-age", "30"});
  const auto result = post(body("Adware.Toolbar.Search"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->get_header_value("Cache-Control"), "max-age=30");
}

TEST_F(Fpcloud, RefusesAMissingOrWrongApiKeyAndNeverPrintsOne) {
  auto& cloud = start({"--api-key", "key-one-secret", "--api-key", "key-two-secret"});
  EXPECT_EQ(answer(post(body("A"))), (Answer{401, R"({"error":"missing or invalid API key"})"}));
  EXPECT_EQ(status(post(body("A"), {{"X-Api-Key", "key-three"}})), 401);
  EXPECT_EQ(status(post(body("A"), {{"X-Api-Key", "key-two-secret"}})), 200);
  cloud.stop();
  for (const auto& line : cloud.lines()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST_F(Fpcloud, AnswersTooManyRequestsAfterTheQuota) {
  start({"--quota", "2"});
  std::vector<int> statuses;
  for (int i = 0; i < 4; ++i) statuses.push_back(status(post(body("A"))));
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 429, 429}));
}

struct Refusal {
  const char* name;
  std::string body;
  int status;
  std::string error;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class FpcloudRefusal : public Fpcloud, public ::testing::WithParamInterface<Refusal> {};

TEST_P(FpcloudRefusal, AnswersWithTheStatusAndKeepsServing) {
  auto& cloud = start({"--max-body", "200"});
  EXPECT_EQ(answer(post(GetParam().body)), (Answer{GetParam().status, R"({"error":")" + GetParam().error + R"("})"}));
  EXPECT_EQ(status(post(body("Adware.Toolbar.Search"))), 200) << "the same connection still serves";
  EXPECT_EQ(cloud.stop(), "stopped: 2 requests, 1 connections, 0 handshakes");
}

// Each reason a body is refused for is the check body's table
// (fpcloud_rules_test.cpp); here how a refusal reaches the client.
INSTANTIATE_TEST_SUITE_P(
    Bodies, FpcloudRefusal,
    ::testing::Values(
        Refusal{"NotJson", "{\"detection\":", 400, "the body is not JSON"},
        Refusal{"TooLarge", body(std::string(200, 'A')), 413,
                "the body is larger than 200 bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Fpcloud, AnswersOtherMethodsAndPaths) {
  auto& cloud = start();
  const auto get = client->Get("/v1/check");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
  EXPECT_EQ(status(client->Put("/v1/check", body("A"), "application/json")), 405);
  EXPECT_EQ(answer(post(body("A"), {}, "/v2/check")), (Answer{404, R"({"error":"no such endpoint"})"}));
  EXPECT_EQ(status(client->Get("/")), 404);
  // The endpoint in absolute form, as Wine's WinHTTP names it through a tunnel.
  const std::string origin = "http://127.0.0.1:" + std::to_string(cloud.port());
  EXPECT_EQ(answer(post(body("Adware.Toolbar.Search"), {}, origin + "/v1/check")),
            (Answer{200, R"({"falsePositive":true})"}));
  EXPECT_EQ(status(post(body("A"), {}, origin + "/v2/check")), 404);
  ASSERT_TRUE(cloud.waitForRequests(4));
  expectRequestLine(cloud.requestLines()[2], "request 3 POST /v2/check 404", "");
}

TEST_F(Fpcloud, DelaysTheAnswer) {
  auto& cloud = start({"--delay-ms", "300"});
  const auto started = Clock::now();
  EXPECT_EQ(status(post(body("Adware.Toolbar.Search"))), 200);
  EXPECT_GE(Clock::now() - started, 300ms);
  ASSERT_TRUE(cloud.waitForRequests(1));
  expectRequestLine(cloud.requestLines()[0], "request 1 POST /v1/check 200", " fault=delay");
}

TEST_F(Fpcloud, AnswersWithTheInjectedStatusAndLocation) {
  auto& cloud = start({"--status", "302", "--location", "http://127.0.0.1:9/elsewhere"});
  const auto result = post(body("A"));
  ASSERT_TRUE(result);
  EXPECT_EQ(answer(result), (Answer{302, R"({"error":"injected fault"})"}));
  EXPECT_EQ(result->get_header_value("Location"), "http://127.0.0.1:9/elsewhere");
  ASSERT_TRUE(cloud.waitForRequests(1));
  expectRequestLine(cloud.requestLines()[0], "request 1 POST /v1/check 302", " fault=status");
}

TEST_F(Fpcloud, DropsTheConnectionWithoutAnAnswer) {
  auto& cloud = start({"--drop"});
  const auto result = post(body("A"));
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Read);
  ASSERT_TRUE(cloud.waitForRequests(1));
  expectRequestLine(cloud.requestLines()[0], "request 1 POST /v1/check -", " fault=drop");
}

// Which request gets which fault is the fault plan's table
// (fpcloud_rules_test.cpp); here that the options reach it and each fault
// reaches the client.
TEST_F(Fpcloud, MixesTheFaultsWhenAsked) {
  start({"--status", "503", "--drop", "--fault-mix", "--fault-share", "0.5"});
  int dropped = 0, unavailable = 0, answered = 0;
  for (int i = 0; i < 60; ++i) {
    const auto result = post(body("A"));
    if (!result) {
      ++dropped;
    } else {
      (result->status == 503 ? unavailable : answered) += 1;
      EXPECT_TRUE(result->status == 503 || result->status == 200) << result->status;
    }
  }
  EXPECT_GT(dropped, 0);
  EXPECT_GT(unavailable, 0);
  EXPECT_GT(answered, 0);
}

class FpcloudTls : public Fpcloud {
 protected:
  std::unique_ptr<httplib::SSLClient> tlsClient(const std::string& host = "127.0.0.1") {
    auto tls = std::make_unique<httplib::SSLClient>(host, service->port());
    tls->set_ca_cert_path(testCertificates().caFile.c_str());
    tls->enable_server_certificate_verification(true);
    tls->set_keep_alive(true);
    tls->set_tcp_nodelay(true);
    return tls;
  }
};

TEST_F(FpcloudTls, ServesHttpsWithOneHandshakePerConnection) {
  const auto& certs = testCertificates();
  auto& cloud = start({"--tls-cert", certs.server.cert, "--tls-key", certs.server.key});
  EXPECT_EQ(cloud.url(), "https://127.0.0.1:" + std::to_string(cloud.port()) + "/v1/check");
  auto tls = tlsClient();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(answer(tls->Post("/v1/check", body("Adware.Toolbar.Search"), "application/json")),
              (Answer{200, R"({"falsePositive":true})"}));
  }
  EXPECT_EQ(cloud.stop(), "stopped: 3 requests, 1 connections, 1 handshakes");
  const auto lines = cloud.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "connection 1");
  EXPECT_EQ(lines[1], "handshake 1");
}

TEST_F(FpcloudTls, ServesAChainAndTheNameLocalhost) {
  const auto& certs = testCertificates();
  auto& cloud = start({"--tls-cert", certs.chain.cert, "--tls-key", certs.chain.key, "--listen",
                       "localhost"});
  EXPECT_EQ(cloud.url(), "https://localhost:" + std::to_string(cloud.port()) + "/v1/check");
  auto tls = tlsClient("localhost");
  EXPECT_EQ(status(tls->Post("/v1/check", body("A"), "application/json")), 200);
}

TEST_F(FpcloudTls, RefusesAKeyThatIsNotTheCertificates) {
  const auto& certs = testCertificates();
  EXPECT_THROW(CloudService({"--rules", rules, "--tls-cert", certs.server.cert, "--tls-key",
                             certs.expired.key}),
               std::runtime_error);
}

// A raw TCP connection, for a client that sends half a request.
struct RawConnection {
  explicit RawConnection(int port) : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { close(fd); }
  // Whether the server ended the connection within the bound (after an
  // answer or without one).
  bool closedWithin(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd entry{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) != 1) return false;
      char buffer[512];
      if (recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
    }
  }
  int fd;
  bool connected = false;
};

TEST_F(Fpcloud, CutsOffASlowClientWithoutHoldingOthersUp) {
  auto& cloud = start({"--read-timeout-ms", "200"});
  RawConnection slow(cloud.port());
  ASSERT_TRUE(slow.connected);
  const std::string half = "POST /v1/check HTTP/1.1\r\nHost: x\r\nContent-Length: 60\r\n\r\n{\"det";
  ASSERT_EQ(send(slow.fd, half.data(), half.size(), MSG_NOSIGNAL), static_cast<ssize_t>(half.size()));
  EXPECT_EQ(status(post(body("Adware.Toolbar.Search"))), 200);
  EXPECT_TRUE(slow.closedWithin(3s));
  EXPECT_EQ(status(post(body("A"))), 200);
}

TEST_F(Fpcloud, EndsTheConnectionAfterABodyItDoesNotRead) {
  auto& cloud = start();
  RawConnection raw(cloud.port());
  ASSERT_TRUE(raw.connected);
  // A GET's body is not read; here it looks like the start of a request.
  const std::string get = "GET /v1/check HTTP/1.1\r\nHost: x\r\nContent-Length: 12\r\n\r\nPOST / HTTP/";
  ASSERT_EQ(send(raw.fd, get.data(), get.size(), MSG_NOSIGNAL), static_cast<ssize_t>(get.size()));
  EXPECT_TRUE(raw.closedWithin(3s));
  EXPECT_EQ(cloud.stop(), "stopped: 1 requests, 1 connections, 0 handshakes");
  ASSERT_EQ(cloud.requestLines().size(), 1u);
  expectRequestLine(cloud.requestLines()[0], "request 1 GET /v1/check 405", "");
}

TEST_F(Fpcloud, StopsAtOnceWithAnIdleConnectionOpen) {
  auto& cloud = start();
  ASSERT_EQ(status(post(body("A"))), 200);
  const auto started = Clock::now();
  EXPECT_EQ(cloud.stop(), "stopped: 1 requests, 1 connections, 0 handshakes");
  // Far below the keep-alive time-out of a minute, which it would otherwise wait.
  EXPECT_LT(Clock::now() - started, 5s);
  EXPECT_EQ(cloud.exitCode(), 0);
}

TEST_F(Fpcloud, StopsCleanlyWhenTheStopFileAppears) {
  TempDir control;
  const std::string stopFile = control.file("stop");
  auto& cloud = start({"--stop-file", stopFile});
  ASSERT_EQ(status(post(body("A"))), 200);
  const auto stopped = [](const CloudService::Lines& lines) {
    return !lines.empty() && lines.back().rfind("stopped:", 0) == 0;
  };
  EXPECT_FALSE(cloud.waitFor(stopped, 200ms)) << "stopped before the file appeared";
  std::ofstream(stopFile).close();
  EXPECT_TRUE(cloud.waitFor(stopped, 2s));
  EXPECT_EQ(cloud.stop(), "stopped: 1 requests, 1 connections, 0 handshakes");
  EXPECT_EQ(cloud.exitCode(), 0);
}

TEST_F(Fpcloud, ComesBackOnTheSamePort) {
  auto& cloud = start();
  ASSERT_EQ(status(post(body("A"))), 200);
  const int port = cloud.port();
  cloud.restart();
  EXPECT_EQ(cloud.port(), port);
  EXPECT_TRUE(cloud.lines().empty());
  EXPECT_EQ(status(post(body("A"))), 200);
  EXPECT_EQ(cloud.stop(), "stopped: 1 requests, 1 connections, 0 handshakes");
}

}  // namespace
}  // namespace kesp::test
