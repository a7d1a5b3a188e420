// Every checker SDK operation answering every SDK code: the status the host
// gets, the exact line it reads, the order in which partial work is undone,
// what is still alive afterwards, and that the checker recovers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;

struct SdkCode {
  std::int32_t code;
  Status status;
  const char* text;  // null for a code the plug-in does not know
};

// Codes 1 to 12 and one unknown code. -1 shows both renderings of an unknown
// code: unsigned where it becomes text, signed where it becomes a status.
const SdkCode kCodes[] = {
    {1, Status::Error, "invalid parameters"},
    {2, Status::NotInitialized, "not initialized"},
    {3, Status::AlreadyInitialized, "already initialized"},
    {4, Status::OutOfMemory, "out of memory"},
    {5, Status::CloudError, "unauthorized"},
    {6, Status::TimedOut, "timed out"},
    {7, Status::CertificateError, "SSL certificate error"},
    {8, Status::ConnectionError, "endpoint not found"},
    {9, Status::CloudError, "request too large"},
    {10, Status::CloudError, "quota limit reached"},
    {11, Status::ConnectionError, "connection error"},
    {12, Status::CloudError, "cloud error"},
    {-1, Status::Error, nullptr},
};

constexpr char kUnknownAsText[] =
    "Internal error: VFPC SDK error '4294967295' is not yet mapped to a string description";
constexpr char kUnknownAsStatus[] =
    "Internal error: VFPC SDK error '-1' is not yet mapped to any interface error";

class SdkFaultMatrix;

// An operation of the checker: its name, the SDK call made to fail, and the
// scenario around it.
struct Operation {
  const char* name;
  SdkOp sdk;
  void (SdkFaultMatrix::*scenario)();
};

// The line a failure writes: the operation's own line with the code's text,
// or the internal error of a code without text.
std::vector<std::string> failureLines(const std::string& prefix, const SdkCode& code) {
  if (code.text == nullptr) return {kUnknownAsText};
  return {prefix + code.text};
}

using Events = std::vector<std::string>;

std::ptrdiff_t countOf(const Events& events, const char* event) {
  return std::count(events.begin(), events.end(), event);
}

// Over a whole scenario that ended with every object released: every SDK
// object that was made is destroyed again, and every mapping of the library
// is gone. refusedCreates and refusedInstances are the creations the SDK
// refused (their events carry no object).
void expectNothingAlive(const Events& events, std::ptrdiff_t refusedCreates,
                        std::ptrdiff_t refusedInstances) {
  EXPECT_EQ(countOf(events, "FPCCreate") - refusedCreates, countOf(events, "FPCDestroy"));
  EXPECT_EQ(countOf(events, "createFpcInstance") - refusedInstances,
            countOf(events, "destroyFpcInstance"));
  EXPECT_EQ(countOf(events, "load"), countOf(events, "unload"));
  EXPECT_EQ(countOf(events, "uninitialize with live instances"), 0);
}

// The events since the last call.
class EventCursor {
 public:
  Events next() {
    const Events all = FakeSdk::instance().events();
    Events fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
    seen_ = all.size();
    return fresh;
  }

 private:
  std::size_t seen_ = 0;
};

class SdkFaultMatrix : public ::testing::TestWithParam<std::tuple<Operation, SdkCode>> {
 public:
  // One scenario per kind of operation; each ends with everything released.
  void load();
  void setProxyOnTheFly();
  void createInstance();
  void checkDetection();
  void destroyInstance();
  void uninitialize();

 protected:
  const Operation& operation() const { return std::get<0>(GetParam()); }
  const SdkCode& code() const { return std::get<1>(GetParam()); }
  void script(std::int32_t value) { FakeSdk::instance().setResult(operation().sdk, value); }
  // The operation answers the code from now on; the log and events start
  // afresh.
  void scriptFailure() {
    script(code().code);
    host.log.clear();
    events.next();
  }

  HostPtr<fp::MemoryFileInputV1> readyInput(fp::InstanceV1& instance) {
    HostPtr<fp::MemoryFileInputV1> input(
        static_cast<fp::MemoryFileInputV1*>(instance.createInput(1)));
    EXPECT_EQ(input->setDetectionName("EICAR-Test-File"), Status::Success);
    EXPECT_EQ(input->setBuffer(buffer_, sizeof buffer_), Status::Success);
    return input;
  }

  // Checks and releases the output; returns the status.
  Status checkOnce(fp::InstanceV1& instance, fp::InputV1& input) {
    fp::OutputV1* const untouched = reinterpret_cast<fp::OutputV1*>(0x5a5a);
    fp::OutputV1* output = untouched;
    const Status status = instance.check(&input, &output);
    if (status == Status::Success) {
      EXPECT_NE(output, untouched);
      output->release();
    } else {
      EXPECT_EQ(output, untouched) << "an output was handed out on failure";
    }
    return status;
  }

  PluginHost host;
  EventCursor events;

 private:
  const char buffer_[8] = "MZ\x90\x00\x03\x00\x00";
};

// A failing step of load leaves nothing behind, and the same checker loads
// once the SDK agrees.
void SdkFaultMatrix::load() {
  const SdkOp op = operation().sdk;
  auto checker = host.configuredChecker();
  const auto proxy = textOption(2, "proxy:1");
  const auto certificate = textOption(3, "/ca.pem");
  ASSERT_EQ(checker->getConfig()->setCustomOption(&proxy), Status::Success);
  ASSERT_EQ(checker->getConfig()->setCustomOption(&certificate), Status::Success);
  scriptFailure();

  EXPECT_EQ(checker->load(), code().status);

  std::vector<std::string> lines;
  Events undo;
  switch (op) {
    case SdkOp::Create:
      lines = failureLines("Internal error: creation of VFPC object failed with error ", code());
      undo = {"load", "FPCCreate", "unload"};
      break;
    case SdkOp::Initialize:
      lines = failureLines("VFPC initialization failed with error ", code());
      undo = {"load", "FPCCreate", "initialize", "FPCDestroy", "unload"};
      break;
    default:
      lines = failureLines(
          "Failed to set proxy 'proxy:1' with certificate path '/ca.pem' in VFPC SDK library: ",
          code());
      undo = {"load", "FPCCreate", "initialize", "setProxy", "FPCDestroy", "unload"};
      break;
  }
  // A known code also ends in the checker's own line; an unknown one leaves
  // as an exception past it.
  if (code().text != nullptr) lines.push_back("VFPC checker load failed.");
  EXPECT_EQ(host.log.texts(0), lines);
  EXPECT_EQ(events.next(), undo);

  // Not loaded: no information, no instances, nothing to unload.
  EXPECT_EQ(checker->getInfo(), nullptr);
  fp::InstanceV1* instance = nullptr;
  EXPECT_EQ(checker->createInstance(&instance), Status::NotInitialized);
  EXPECT_EQ(checker->unload(), Status::NotInitialized);
  EXPECT_EQ(events.next(), Events{});

  script(0);
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().proxies().back(),
            (std::pair<std::string, std::string>{"proxy:1", "/ca.pem"}));
  EXPECT_EQ(checker->unload(), Status::Success);
  checker.reset();
  expectNothingAlive(FakeSdk::instance().events(), op == SdkOp::Create ? 1 : 0, 0);
}

// A refused proxy change keeps the checker loaded and is not remembered: not
// for the next on-the-fly change, not for the next load.
void SdkFaultMatrix::setProxyOnTheFly() {
  auto checker = host.loadedChecker();
  scriptFailure();

  const auto proxy = textOption(2, "proxy:8080");
  EXPECT_EQ(checker->getConfig()->setCustomOption(&proxy), code().status);
  EXPECT_EQ(host.log.texts(0),
            failureLines("Failed to set on-the-fly proxy 'proxy:8080' with certificate path '' "
                         "in VFPC SDK library: ",
                         code()));
  EXPECT_EQ(events.next(), Events{"setProxy"});

  script(0);
  EXPECT_NE(checker->getInfo(), nullptr);
  const auto certificate = textOption(3, "/ca.pem");
  EXPECT_EQ(checker->getConfig()->setCustomOption(&certificate), Status::Success);
  EXPECT_EQ(FakeSdk::instance().proxies().back(),
            (std::pair<std::string, std::string>{"", "/ca.pem"}));
  ASSERT_EQ(checker->unload(), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().proxies().back(),
            (std::pair<std::string, std::string>{"", "/ca.pem"}));
  EXPECT_EQ(checker->unload(), Status::Success);
  checker.reset();
  expectNothingAlive(FakeSdk::instance().events(), 0, 0);
}

// A refused SDK instance is no instance: the host's pointer stays as it was,
// nothing is counted, and the default file operations made for it are gone.
void SdkFaultMatrix::createInstance() {
  auto checker = host.loadedChecker();
  scriptFailure();

  fp::InstanceV1* const untouched = reinterpret_cast<fp::InstanceV1*>(0x1234);
  fp::InstanceV1* instance = untouched;
  EXPECT_EQ(checker->createInstance(&instance), code().status);
  EXPECT_EQ(instance, untouched);
  EXPECT_EQ(host.log.texts(0),
            failureLines("Failed to create VFPC checker instance: FP checker error: Failed to "
                         "create VFPC SDK instance: ",
                         code()));
  EXPECT_EQ(events.next(), Events{"createFpcInstance"});

  script(0);
  auto created = host.instance(*checker);
  created.reset();
  events.next();
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(events.next(), (Events{"uninitialize", "FPCDestroy", "unload"}));
  checker.reset();
  expectNothingAlive(FakeSdk::instance().events(), 0, 1);
}

// A failed check hands out no output and leaves the instance free for the
// next check.
void SdkFaultMatrix::checkDetection() {
  auto checker = host.loadedChecker();
  auto instance = host.instance(*checker);
  auto input = readyInput(*instance);
  scriptFailure();

  EXPECT_EQ(checkOnce(*instance, *input), code().status);
  EXPECT_EQ(host.log.texts(0), failureLines("Failed to check detection: ", code()));
  EXPECT_EQ(events.next(), Events{"checkDetection"});

  script(0);
  FakeSdk::instance().setVerdict(true);
  EXPECT_EQ(checkOnce(*instance, *input), Status::Success);
  input.reset();
  instance.reset();
  EXPECT_EQ(checker->unload(), Status::Success);
  checker.reset();
  expectNothingAlive(FakeSdk::instance().events(), 0, 0);
}

// Whatever the SDK says, a released instance is gone: the count falls and
// the SDK instance is destroyed exactly once.
void SdkFaultMatrix::destroyInstance() {
  auto checker = host.loadedChecker();
  auto instance = host.instance(*checker);
  scriptFailure();

  instance.reset();
  EXPECT_EQ(host.log.texts(0), failureLines("Failed to destroy VFPC SDK instance: ", code()));
  EXPECT_EQ(events.next(), Events{"destroyFpcInstance"});

  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(events.next(), (Events{"uninitialize", "FPCDestroy", "unload"}));
  checker.reset();
  expectNothingAlive(FakeSdk::instance().events(), 0, 0);
}

// A refused unload leaves a checker that still works: its SDK object is
// alive, instances can be made and checks run, and unload can be retried.
void SdkFaultMatrix::uninitialize() {
  auto checker = host.loadedChecker();
  scriptFailure();

  EXPECT_EQ(checker->unload(), code().status);
  // A known refusal is reported by its status alone.
  EXPECT_EQ(host.log.texts(0), code().text == nullptr ? std::vector<std::string>{kUnknownAsStatus}
                                                      : std::vector<std::string>{});
  EXPECT_EQ(events.next(), Events{"uninitialize"});

  EXPECT_NE(checker->getInfo(), nullptr);
  EXPECT_EQ(checker->load(), Status::AlreadyInitialized);
  auto instance = host.instance(*checker);
  auto input = readyInput(*instance);
  EXPECT_EQ(checkOnce(*instance, *input), Status::Success);
  input.reset();
  instance.reset();

  script(0);
  events.next();
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(events.next(), (Events{"uninitialize", "FPCDestroy", "unload"}));
  checker.reset();
  expectNothingAlive(FakeSdk::instance().events(), 0, 0);
}

TEST_P(SdkFaultMatrix, IsReportedUndoneAndRecovered) { (this->*operation().scenario)(); }

const Operation kOperations[] = {
    {"FPCCreate", SdkOp::Create, &SdkFaultMatrix::load},
    {"initialize", SdkOp::Initialize, &SdkFaultMatrix::load},
    {"setProxyAtLoad", SdkOp::SetProxy, &SdkFaultMatrix::load},
    {"setProxyOnTheFly", SdkOp::SetProxy, &SdkFaultMatrix::setProxyOnTheFly},
    {"createFpcInstance", SdkOp::CreateInstance, &SdkFaultMatrix::createInstance},
    {"checkDetection", SdkOp::CheckDetection, &SdkFaultMatrix::checkDetection},
    {"destroyFpcInstance", SdkOp::DestroyInstance, &SdkFaultMatrix::destroyInstance},
    {"uninitialize", SdkOp::Uninitialize, &SdkFaultMatrix::uninitialize},
};

std::string caseName(const ::testing::TestParamInfo<SdkFaultMatrix::ParamType>& info) {
  const SdkCode& code = std::get<1>(info.param);
  std::string name = std::string(std::get<0>(info.param).name) + "_";
  if (code.text == nullptr) return name + "unknown";
  for (const char* c = code.text; *c != '\0'; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(EverySdkCode, SdkFaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(kOperations),
                                            ::testing::ValuesIn(kCodes)),
                         caseName);

}  // namespace
}  // namespace kesp::test
