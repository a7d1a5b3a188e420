// The reference SDK against a service on loopback, driven through the SDK
// interface: what the service receives over libcurl, real time-outs,
// refusals and TLS, the verdict cache's life and proxy changes on the fly.
// The service is a cpp-httplib server inside the test that records every
// request and answers from a script. The rules (codes, retries, the breaker,
// the cache) have tests of their own without a socket: cloud_client_test.cpp.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fpcsdk/codes.h"
#include "tests/support/cloud_service.h"
#include "tests/support/loopback.h"
#include "tests/support/test_certificates.h"
#include "tests/tools/reference_sdk_directory.h"
#include "tests/tools/sdk_object_test.h"

namespace kesp::test {
namespace {

using namespace fpcsdk;  // the SDK's codes
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

constexpr char kHash[] = "8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03";
constexpr char kUpperHash[] = "8047240C6B430F443CE9EA191BD18BC8C33AF873CB0B8A0822BE814303D1DB03";
constexpr char kVerdictTrue[] = R"({"falsePositive": true})";

struct Reply {
  int status = 200;
  std::string body = kVerdictTrue;
  std::string cacheControl{};
  int delayMs = 0;
  std::string location{};
};

struct Received {
  std::string method;
  std::string target;
  std::multimap<std::string, std::string, httplib::detail::ci> headers;
  std::string body;
  int remotePort = 0;
};

// An HTTP service on 127.0.0.1 that answers with the reply it was given and
// records every request.
class ScriptedService {
 public:
  ScriptedService() {
    server_.set_keep_alive_max_count(100000);
    // A worker waits this long on an idle kept-alive connection, also when
    // the server stops: keep the end of a test short.
    server_.set_keep_alive_timeout(1);
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
      Reply reply;
      {
        std::lock_guard lock(mutex_);
        received_.push_back({request.method, request.path, request.headers, request.body,
                             request.remote_port});
        reply = default_;
      }
      if (reply.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
      response.status = reply.status;
      if (!reply.cacheControl.empty()) response.set_header("Cache-Control", reply.cacheControl);
      if (!reply.location.empty()) response.set_header("Location", reply.location);
      response.set_content(reply.body, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    EXPECT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int wait = 0; wait < 500 && !server_.is_running(); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ~ScriptedService() {
    server_.stop();
    thread_.join();
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1/check"; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  void answerAlways(Reply reply) {
    std::lock_guard lock(mutex_);
    default_ = std::move(reply);
  }
  std::vector<Received> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return received_.size();
  }

 private:
  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mutex_;
  Reply default_;
  std::vector<Received> received_;
};

fpcsdk::FPCConfig networkConfig(const std::string& url, std::uint32_t attempts = 1) {
  fpcsdk::FPCConfig config;
  config.cloudUrl = url;
  config.hostDataString = "host-data: test";
  config.pluginVersionText = "2.1.0.29";
  config.connectionTimeout = 1000;
  config.dataTimeout = 1000;
  config.connectionRetries = attempts;
  return config;
}

fpcsdk::DetectionInput detection(const std::string& name, const std::string& hash = "") {
  return fileDetection(name, hash, "/home/alice/invoice.pdf");
}

class SdkNetwork : public SdkObjectTest {
 protected:
  SdkNetwork() : SdkObjectTest(std::nullopt) {}

  fpcsdk::FPCInstance& instance() { return *newInstance(); }
  // The one error line so far begins with prefix (the rest is the transport's own words).
  void expectOneErrorLineStartingWith(const std::string& prefix) const {
    const auto errors = log.texts(0);
    ASSERT_EQ(errors.size(), 1u) << ::testing::PrintToString(errors);
    EXPECT_EQ(errors[0].rfind(prefix, 0), 0u) << errors[0];
  }

  // The code of one check; the verdict in falsePositive.
  std::int32_t check(fpcsdk::FPCInstance& on, const fpcsdk::DetectionInput& input) {
    falsePositive = false;
    return on.checkDetection(input, &falsePositive);
  }

  std::vector<std::string> attemptLines() const {
    std::vector<std::string> attempts;
    for (const std::string& text : log.texts(3)) {
      if (text.rfind("Attempt ", 0) == 0) attempts.push_back(text.substr(0, text.rfind(" in ")));
    }
    return attempts;
  }

  ScriptedService service;
  bool falsePositive = false;
};

// --- the request --------------------------------------------------------------

TEST_F(SdkNetwork, PostsTheCheckToTheUrlWithEveryHeaderAndField) {
  fpcsdk::FPCConfig config = networkConfig(service.url());
  config.sdkText1 = "key-1234";
  config.sdkText4 = "client-7";
  config.sdkText7 = "tag-blue";
  ASSERT_EQ(fpc->initialize(config), Ok);
  fpcsdk::DetectionInput input = detection("Trojan.Script.Phish", kUpperHash);
  input.extraData = "extra text";
  input.customOptions.boolOptions["deep"] = true;
  input.customOptions.intOptions["level"] = -3;
  input.customOptions.stringOptions["mode"] = "fast";
  ASSERT_EQ(check(instance(), input), Ok);
  EXPECT_TRUE(falsePositive);

  const std::vector<Received> received = service.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].target, "/v1/check");
  const std::pair<const char*, Texts> headers[] = {
      {"Content-Type", {"application/json"}}, {"User-Agent", {"vfpcsdk/2.1.0.29 vfpc-plugin/2.1.0.29"}},
      {"X-Api-Key", {"key-1234"}}, {"X-Client-Id", {"client-7"}}, {"X-Client-Tag", {"tag-blue"}}, {"Expect", {}}};
  for (const auto& [name, values] : headers) {
    Texts sent;
    for (auto [it, last] = received[0].headers.equal_range(name); it != last; ++it) sent.push_back(it->second);
    EXPECT_EQ(sent, values) << name;
  }
  EXPECT_EQ(nlohmann::json::parse(received[0].body), nlohmann::json::parse(R"({
    "detection": "Trojan.Script.Phish", "size": 1234, "input": "file",
    "sha256": "8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03",
    "extra": "extra text", "options": {"deep": true, "level": -3, "mode": "fast"},
    "host": "host-data: test"})"))
      << "the path is never sent, the hash in lower case";
}

TEST_F(SdkNetwork, EachInstanceKeepsOneConnection) {
  ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
  fpcsdk::FPCInstance& first = instance();
  fpcsdk::FPCInstance& second = instance();
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(check(first, detection("A")), Ok);
    ASSERT_EQ(check(second, detection("B")), Ok);
  }
  std::map<std::string, std::set<int>> ports;
  for (const Received& request : service.received()) {
    ports[nlohmann::json::parse(request.body)["detection"]].insert(request.remotePort);
  }
  EXPECT_EQ(ports["A"].size(), 1u);
  EXPECT_EQ(ports["B"].size(), 1u);
  EXPECT_NE(*ports["A"].begin(), *ports["B"].begin());
}

TEST_F(SdkNetwork, WarnsOfPlainHttpAtInitialize) {
  ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
  EXPECT_EQ(log.texts(1), Texts{"The cloud URL '" + service.url() +
                                "' is plain HTTP: the API key and every check travel unencrypted; "
                                "use it for tests on this machine only"});
}

// --- answers ------------------------------------------------------------------

// What each answer means is the cloud rules' table (cloud_client_test.cpp);
// what libcurl reads of an answer is shown here.
TEST_F(SdkNetwork, AnAnswerBeyondTheBodyLimitIsRefusedWithoutRetry) {
  ASSERT_EQ(fpc->initialize(networkConfig(service.url(), 3)), Ok);
  service.answerAlways({.body = std::string(64 * 1024 + 1, ' ')});
  EXPECT_EQ(check(instance(), detection("Trojan.A")), CloudError);
  EXPECT_EQ(service.count(), 1u);
  EXPECT_EQ(log.texts(0), Texts{"Check 'Trojan.A' size 1234 failed after 1 attempt(s): response refused: "
                                "the response body is larger than 65536 bytes"});
}

TEST_F(SdkNetwork, ARedirectIsNotFollowed) {
  ScriptedService elsewhere;
  ASSERT_EQ(fpc->initialize(networkConfig(service.url(), 3)), Ok);
  service.answerAlways({.status = 307, .location = elsewhere.url()});
  EXPECT_EQ(check(instance(), detection("Trojan.A")), CloudError);
  EXPECT_EQ(elsewhere.count(), 0u);
}

TEST_F(SdkNetwork, ASlowAnswerTimesOutWithinTheBound) {
  fpcsdk::FPCConfig config = networkConfig(service.url(), 2);
  config.dataTimeout = 100;
  ASSERT_EQ(fpc->initialize(config), Ok);
  service.answerAlways({.delayMs = 400});
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(check(instance(), detection("Trojan.A")), TimedOut);
  // attempts x (connect + data) + (attempts - 1) x the longest back-off
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2 * (1000 + 100) + 2000));
  EXPECT_EQ(service.count(), 2u);
  EXPECT_EQ(log.texts(0), Texts{"Check 'Trojan.A' size 1234 failed after 2 attempt(s): data time-out: "
                                "no response data within 100 ms"});
}

TEST_F(SdkNetwork, NothingListeningIsAConnectionErrorAfterEveryAttempt) {
  const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/v1/check";
  ASSERT_EQ(fpc->initialize(networkConfig(url, 3)), Ok);
  EXPECT_EQ(check(instance(), detection("Trojan.A")), ConnectionError);
  const std::vector<std::string> attempts = attemptLines();
  ASSERT_EQ(attempts.size(), 3u);
  EXPECT_EQ(attempts[0].rfind("Attempt 1 of 3 for 'Trojan.A': connection refused: ", 0), 0u)
      << attempts[0];
  expectOneErrorLineStartingWith("Check 'Trojan.A' size 1234 failed after 3 attempt(s): "
                                 "connection refused: ");
}

// --- the verdict cache --------------------------------------------------------

TEST_F(SdkNetwork, UninitializeDropsTheKeptVerdicts) {
  service.answerAlways({.cacheControl = "max-age=60"});
  ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
  fpcsdk::FPCInstance* on = nullptr;
  ASSERT_EQ(fpc->createFpcInstance(&on), Ok);
  ASSERT_EQ(check(*on, detection("Trojan.A", kHash)), Ok);
  ASSERT_EQ(check(*on, detection("Trojan.A", kHash)), Ok);
  EXPECT_EQ(service.count(), 1u);
  ASSERT_EQ(fpc->destroyFpcInstance(on), Ok);
  ASSERT_EQ(fpc->uninitialize(), Ok);
  ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
  ASSERT_EQ(check(instance(), detection("Trojan.A", kHash)), Ok);
  EXPECT_EQ(service.count(), 2u);
}

// --- proxies ------------------------------------------------------------------

TEST_F(SdkNetwork, AProxyRefusalIsAConnectionErrorWithoutRetry) {
  ScriptedService proxy;
  proxy.answerAlways({.status = 407, .body = ""});
  ASSERT_EQ(fpc->initialize(networkConfig(service.url(), 3)), Ok);
  ASSERT_EQ(fpc->setProxy("http://user:s3cret-pw@" + proxy.address(), ""), Ok);
  EXPECT_EQ(check(instance(), detection("Trojan.A")), ConnectionError);
  EXPECT_EQ(proxy.count(), 1u);
  EXPECT_EQ(service.count(), 0u);
  EXPECT_EQ(log.texts(0), Texts{"Check 'Trojan.A' size 1234 failed after 1 attempt(s): proxy failure: "
                                "the proxy answered 407 (authentication required)"});
}

TEST_F(SdkNetwork, NoLogLineShowsTheApiKeyOrTheProxyPassword) {
  fpcsdk::FPCConfig config = networkConfig(service.url(), 2);
  config.sdkText1 = "key-SECRET-4711";
  ASSERT_EQ(fpc->initialize(config), Ok);
  fpcsdk::FPCInstance& on = instance();
  ASSERT_EQ(check(on, detection("Trojan.A")), Ok);
  const std::string closed = "127.0.0.1:" + std::to_string(closedPort());
  for (const std::string& proxy : {"http://user:pw-SECRET-0815@" + closed,
                                   "socks5://user:pw-SECRET-0815@" + closed}) {
    ASSERT_EQ(fpc->setProxy(proxy, ""), Ok);
    EXPECT_EQ(check(on, detection("Trojan.A")), ConnectionError);
  }
  ASSERT_FALSE(log.texts(0).empty());
  for (const SdkLogLine& line : log.lines()) {
    EXPECT_EQ(line.text.find("SECRET"), std::string::npos) << line.text;
  }
}

TEST_F(SdkNetwork, ProxyChangesOnTheFlyReachEveryInstanceBetweenRequests) {
  ScriptedService proxy;
  ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
  constexpr int kThreads = 4;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  constexpr int kChecks = 30;
#else
  constexpr int kChecks = 100;
#endif
  std::vector<fpcsdk::FPCInstance*> mine;
  for (int thread = 0; thread < kThreads; ++thread) mine.push_back(&instance());
  std::atomic<int> wrong{0};
  std::atomic<int> running{kThreads};
  std::vector<std::thread> checkers;
  for (fpcsdk::FPCInstance* on : mine) {
    checkers.emplace_back([&, on] {
      for (int check = 0; check < kChecks; ++check) {
        bool verdict = false;
        if (on->checkDetection(detection("Trojan.A"), &verdict) != Ok || !verdict) ++wrong;
      }
      --running;
    });
  }
  int changes = 0;
  while (running > 0) {
    if (fpc->setProxy(changes % 2 == 0 ? proxy.address() : "", "") != Ok) ++wrong;
    ++changes;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (std::thread& thread : checkers) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(service.count() + proxy.count(), std::size_t{kThreads * kChecks})
      << "each check is one request, through the proxy or not";
  EXPECT_GT(proxy.count(), 0u);
  EXPECT_GT(service.count(), 0u);
  for (const Received& request : proxy.received()) EXPECT_EQ(request.target, service.url());
}

// --- the library --------------------------------------------------------------

TEST(SdkNetworkLibrary, LoadsChecksAndUnloadsAgainAndAgain) {
  // libcurl comes and goes with the SDK library (nothing else in this
  // program holds it), so each round initializes it and cleans it up anew.
  ScriptedService service;
  ReferenceSdkCopy copy(std::nullopt);
  for (int round = 0; round < 3; ++round) {
    SdkLogRecorder log;
    Sdk sdk(copy.library());
    Sdk::FpcPtr fpc = sdk.create(&log);
    ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
    fpcsdk::FPCInstance* instance = nullptr;
    ASSERT_EQ(fpc->createFpcInstance(&instance), Ok);
    bool verdict = false;
    EXPECT_EQ(instance->checkDetection(detection("Trojan.A"), &verdict), Ok);
    EXPECT_TRUE(verdict);
    EXPECT_EQ(fpc->threadCleanup(), Ok);
    if (round == 1) continue;  // the object ends with its instance and settings
    ASSERT_EQ(fpc->destroyFpcInstance(instance), Ok);
    ASSERT_EQ(fpc->uninitialize(), Ok);
  }
  EXPECT_EQ(service.count(), 3u);
}

// --- TLS and the certificate path ---------------------------------------------

// fpcloud over HTTPS with the test CA's server certificate.
class SdkTls : public SdkNetwork {
 protected:
  SdkTls() {
    { std::ofstream(std::filesystem::path(copy.file("cloud.rules"))) << "fp Trojan.*\n"; }
    const TestCertificates& certificates = testCertificates();
    cloud.emplace(std::vector<std::string>{"--rules", copy.file("cloud.rules"), "--tls-cert",
                                           certificates.server.cert, "--tls-key",
                                           certificates.server.key});
  }
  std::optional<CloudService> cloud;
};

TEST_F(SdkTls, TrustsTheCertificatePathAsAFileOrADirectoryWithOneHandshakePerInstance) {
  ASSERT_EQ(fpc->initialize(networkConfig(cloud->url(), 3)), Ok);
  for (const std::string& path : {testCertificates().caFile, testCertificates().caDirectory}) {
    ASSERT_EQ(fpc->setProxy("", path), Ok);
    fpcsdk::FPCInstance& on = instance();
    for (int round = 0; round < 3; ++round) {
      ASSERT_EQ(check(on, detection("Trojan.A")), Ok) << path;
      EXPECT_TRUE(falsePositive);
    }
  }
  ASSERT_TRUE(cloud->waitForRequests(6));
  const CloudService::Lines lines = cloud->lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("handshake ", 0) == 0; }),
            2);
}

TEST_F(SdkTls, ACertificateOutsideThePathIsACertificateErrorWithoutRetry) {
  ASSERT_EQ(fpc->initialize(networkConfig(cloud->url(), 3)), Ok);
  ASSERT_EQ(fpc->setProxy("", testCertificates().otherCaFile), Ok);
  EXPECT_EQ(check(instance(), detection("Trojan.A")), CertificateError);
  EXPECT_EQ(attemptLines().size(), 1u);
  EXPECT_EQ(cloud->requestCount(), 0u) << "nothing is sent over an untrusted connection";
  expectOneErrorLineStartingWith("Check 'Trojan.A' size 1234 failed after 1 attempt(s): TLS "
                                 "failure: ");
}

// The body's exact bytes, as the service receives them: members in name
// order, texts that need it escaped, bytes that are not UTF-8 replaced.
struct BodyCase {
  const char* name;
  std::function<void(fpcsdk::DetectionInput&)> change;
  const char* body;
};

class SdkRequestBody : public SdkNetwork, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(SdkRequestBody, IsTheseBytes) {
  ASSERT_EQ(fpc->initialize(networkConfig(service.url())), Ok);
  fpcsdk::DetectionInput input = detection("Trojan.Script.Phish");
  GetParam().change(input);
  ASSERT_EQ(check(instance(), input), Ok);
  const std::vector<Received> received = service.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(Bodies, SdkRequestBody, ::testing::ValuesIn(std::vector<BodyCase>{
    {"File", [](auto&) {},
     R"({"detection":"Trojan.Script.Phish","host":"host-data: test","input":"file","size":1234})"},
    {"MemoryWithHashAndExtra", [](auto& input) { input.filePath.clear(); input.hash = kUpperHash; input.extraData = "extra"; },
     R"({"detection":"Trojan.Script.Phish","extra":"extra","host":"host-data: test","input":"memory","sha256":"8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03","size":1234})"},
    {"OptionsByKeyTheLastKindKept", [](auto& input) {
       auto& options = input.customOptions;  // "b" a bool, then an int: the int is sent
       options.boolOptions["b"] = true; options.intOptions["a"] = -3; options.intOptions["b"] = 7; options.stringOptions["c"] = "x";
     },
     R"({"detection":"Trojan.Script.Phish","host":"host-data: test","input":"file","options":{"a":-3,"b":7,"c":"x"},"size":1234})"},
    {"EscapedAndReplaced", [](auto& input) {
       input.detectionName = "Tro\"jan\\\x01\x7f\xc3\xa9\xff.X"; input.extraData = "tab\there"; input.fileSize = UINT64_MAX;
     },
     "{\"detection\":\"Tro\\\"jan\\\\\\u0001\x7f\xc3\xa9\xef\xbf\xbd.X\",\"extra\":"
     "\"tab\\there\",\"host\":\"host-data: test\",\"input\":\"file\",\"size\":18446744073709551615}"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kesp::test
