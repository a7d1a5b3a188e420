// The entry point and the plug-in object, driven as a host drives them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/recording_log.h"
#include "tests/support/test_paths.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kesp::test {
namespace {

using kesp::plugins::PluginV1;

// Calls KESPGetPlugin with input: whether it gave a plug-in (released at
// once).
bool getPlugin(FakePluginInput& input) {
  PluginV1* plugin = getPluginFunction()(&input);
  if (plugin == nullptr) return false;
  plugin->release();
  return true;
}

// The host data string is missing, of the wrong type, null or empty.
TEST(EntryPoint, RefusesAnInputWithoutAUsableHostDataString) {
  static const char kText[] = "data";
  const char kNullOrEmpty[] =
      "Exception: Plugin input data with ID '1001': string value is null or empty";
  const std::pair<void (*)(FakePluginInput&), std::string> refusals[] = {
      {[](FakePluginInput&) {}, "Exception: Plugin input returned null for ID '1001'"},
      {[](FakePluginInput& input) {
         input.setRecord(1001, {0, 5, reinterpret_cast<std::uint64_t>(kText)});
       },
       "Exception: Plugin input data type mismatch for ID '1001'. Got '5', expected '4'."},
      {[](FakePluginInput& input) { input.setString(1001, nullptr); }, kNullOrEmpty},
      {[](FakePluginInput& input) { input.setString(1001, ""); }, kNullOrEmpty},
  };
  for (const auto& [fill, message] : refusals) {
    RecordingHostLog log;
    FakePluginInput input(&log);
    fill(input);
    EXPECT_FALSE(getPlugin(input));
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{0, 5, 0, message}}));
  }
}

// Without a host log the plug-in still works, and the SDK's log wants
// nothing and writes nothing.
TEST(EntryPoint, WorksSilentlyWithoutAHostLog) {
  FakeSdk::instance().reset();
  FakePluginInput input(nullptr);
  EXPECT_FALSE(getPlugin(input));  // refused, with nowhere to say so
  input.setString(1001, kHostDataString);
  HostPtr<PluginV1> plugin(getPluginFunction()(&input));
  ASSERT_NE(plugin, nullptr);
  HostPtr<fp::CheckerV1> checker(plugin->getChecker());
  ASSERT_NE(checker, nullptr);
  // Failures are still reported as statuses.
  EXPECT_EQ(checker->load(), fp::Status::NotSupported);
  checker->getConfig()->setApiVersion(2, 0);
  ASSERT_EQ(checker->getConfig()->setBaseDirectory(sdkDirectory("good").c_str()),
            fp::Status::Success);
  EXPECT_EQ(checker->load(), fp::Status::Success);
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  for (const std::int32_t level : {0, 1, 2, 3}) EXPECT_FALSE(sdkLog->filter(level));
  sdkLog->log(0, 0, "nowhere to go");
  EXPECT_EQ(checker->unload(), fp::Status::Success);
}

TEST(PluginObject, TracesItsOperationsAtDebugLevel) {
  RecordingHostLog log;
  FakePluginInput input(&log);
  input.setString(1001, kHostDataString);
  PluginV1* plugin = getPluginFunction()(&input);
  ASSERT_NE(plugin, nullptr);
  plugin->getChecker()->release();
  plugin->getPluginInfo()->release();
  plugin->release();
  EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                             {3, 5, 0, "VFPC checker get plugin interface called"},
                             {3, 5, 0, "Releasing VFPC checker"},
                             {3, 5, 0, "VFPC checker release plugin called"},
                         }));
}

TEST(PluginObject, AHostThatWantsOnlyErrorsGetsNoTraceLines) {
  RecordingHostLog log(0);
  FakePluginInput input(&log);
  input.setString(1001, kHostDataString);
  HostPtr<PluginV1> plugin(getPluginFunction()(&input));
  HostPtr<fp::CheckerV1> checker(plugin->getChecker());
  EXPECT_EQ(checker->load(), fp::Status::NotSupported);
  EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                             {0, 5, 0, "FP checker major API version is '0', expected '2'"}}));
}

// A host log built by another compiler: slot 0 answers a byte, of which any
// non-zero value means yes.
class ByteAnswerHostLog {
 public:
  explicit ByteAnswerHostLog(std::uint8_t answer) : answer_(answer) {}
  virtual std::uint8_t isEnabled(std::uint32_t, std::uint32_t, std::uint32_t) { return answer_; }
  virtual void log(std::uint32_t level, std::uint32_t, std::uint32_t, const char* text) {
    lines.emplace_back(std::to_string(level) + " " + text);
  }
  std::vector<std::string> lines;

 private:
  std::uint8_t answer_;
};

TEST(PluginObject, AnyNonZeroByteFromTheHostMeansEnabled) {
  for (const std::uint8_t answer : {0x00, 0x01, 0x02, 0x80, 0xFF}) {
    ByteAnswerHostLog log(answer);
    FakePluginInput input(reinterpret_cast<kesp::HostLog*>(&log));
    input.setString(1001, kHostDataString);
    HostPtr<PluginV1> plugin(getPluginFunction()(&input));
    ASSERT_NE(plugin, nullptr);
    plugin->getChecker()->release();
    const std::vector<std::string> expected =
        answer == 0 ? std::vector<std::string>{}
                    : std::vector<std::string>{"3 VFPC checker get plugin interface called",
                                               "3 Releasing VFPC checker"};
    EXPECT_EQ(log.lines, expected) << "answer " << int{answer};
  }
}

TEST(PluginObject, HandsOutIndependentCheckers) {
  PluginHost host;
  auto first = host.configuredChecker();
  auto second = host.configuredChecker();
  ASSERT_NE(first.get(), second.get());
  EXPECT_EQ(first->load(), fp::Status::Success);
  EXPECT_EQ(second->getInfo(), nullptr);
  EXPECT_NE(first->getInfo(), nullptr);
  EXPECT_EQ(first->unload(), fp::Status::Success);
}

TEST(PluginInfo, ReportsTheFixedIdentity) {
  PluginHost host;
  HostPtr<kesp::plugins::PluginInfoV1> info(host.plugin->getPluginInfo());
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->getPluginType(), 4);
  EXPECT_EQ(info->getPluginId(), 4);
  EXPECT_EQ(std::string(info->getName()), "Velnor FP Checker");
  std::uint32_t major = 99;
  std::uint32_t minor = 99;
  info->getApiVersion(&major, &minor);
  EXPECT_EQ(major, 2u);
  EXPECT_EQ(minor, 0u);
  const kesp::plugins::PluginVersion version = kesp::plugins::versionOf(*info);
  EXPECT_EQ(version.major, 2u);
  EXPECT_EQ(version.minor, 1u);
  EXPECT_EQ(version.patch, 0u);
  EXPECT_EQ(version.build, 29u);
  // An information object does not depend on the plug-in object.
  HostPtr<kesp::plugins::PluginInfoV1> second(host.plugin->getPluginInfo());
  EXPECT_NE(second.get(), info.get());
  host.plugin.reset();
  EXPECT_EQ(std::string(second->getName()), "Velnor FP Checker");
}

TEST(PluginLibrary, CarriesTheVersionResourceOnWindows) {
#if defined(_WIN32)
  const std::wstring path = std::filesystem::path(pluginPath()).wstring();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (2u << 16) | 1u);
  EXPECT_EQ(fixed->dwFileVersionLS, (0u << 16) | 29u);
  EXPECT_EQ(fixed->dwProductVersionMS, (2u << 16) | 1u);
  EXPECT_EQ(fixed->dwProductVersionLS, (0u << 16) | 29u);
#else
  GTEST_SKIP() << "version resources exist only in Windows libraries";
#endif
}

}  // namespace
}  // namespace kesp::test
