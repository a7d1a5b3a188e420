// The reference checker SDK behind the real plug-in, as a host meets it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/plugin_host.h"
#include "tests/tools/reference_sdk_directory.h"

namespace kesp::test {
namespace {

using fp::Status;
using kesp::plugins::GenericDataString;

constexpr char kHash[] = "8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03";

const std::string kRules = std::string("fp Trojan.Script.Phish ") + kHash + "\n" +
                           "fp Adware.Toolbar.*\n";

bool contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// API 2.0, the base directory, and the offline decider on the rules file
// there.
void configureOffline(fp::CheckerV1& checker, const std::string& directory) {
  checker.getConfig()->setApiVersion(2, 0);
  EXPECT_EQ(checker.getConfig()->setBaseDirectory(directory.c_str()), Status::Success);
  const auto url = textOption(fp::OptionCloudUrl, "file:vfpcsdk.rules");
  EXPECT_EQ(checker.getConfig()->setCustomOption(&url), Status::Success);
}

class ReferenceSdkPlugin : public ::testing::Test {
 protected:
  ReferenceSdkPlugin() : copy(kRules) {
    checker = host.checker();
    configureOffline(*checker, copy.directory());
  }

  Status setOption(std::uint32_t id, const char* text) {
    const auto option = textOption(id, text);
    return checker->getConfig()->setCustomOption(&option);
  }

  // Checks a real file through the plug-in; the verdict, or nothing when the
  // check failed with status.
  std::optional<bool> checkFile(const std::string& detection, const char* hash, Status& status) {
    auto instance = host.instance(*checker);
    HostPtr<fp::InputV1> input(instance->createInput(static_cast<std::uint32_t>(fp::InputType::File)));
    EXPECT_EQ(input->setDetectionName(detection.c_str()), Status::Success);
    EXPECT_EQ(input->setPath(sample.c_str()), Status::Success);
    if (hash != nullptr) {
      const auto data = pointerData(fp::CustomDataHash, GenericDataString, hash);
      EXPECT_EQ(input->addCustomData(&data), Status::Success);
    }
    fp::OutputV1* output = nullptr;
    status = instance->check(input.get(), &output);
    if (status != Status::Success) return std::nullopt;
    HostPtr<fp::OutputV1> owned(output);
    return owned->isFalsePositive();
  }

  PluginHost host;
  ReferenceSdkCopy copy;
  HostPtr<fp::CheckerV1> checker;
  std::string sample = copy.file("sample.txt");
};

TEST_F(ReferenceSdkPlugin, LoadsAndDecidesFileChecks) {
  { std::ofstream(std::filesystem::path(sample), std::ios::binary) << "Quarterly invoice\n"; }
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_TRUE(contains(host.log.texts(2),
                       "[fpcsdk] Read 2 rule(s) from '" + copy.rulesFile() + "'"));
  Status status = Status::Error;
  EXPECT_EQ(checkFile("Trojan.Script.Phish", kHash, status), std::optional<bool>(true));
  EXPECT_EQ(checkFile("Trojan.Script.Phish", nullptr, status), std::optional<bool>(false));
  EXPECT_EQ(checkFile("Adware.Toolbar.Search", nullptr, status), std::optional<bool>(true));
  EXPECT_TRUE(contains(host.log.texts(3),
                       "[fpcsdk] Check 'Adware.Toolbar.Search' size 18 path '" + sample +
                           "': false positive by the rule on line 2"));
  const fp::CheckerCommand cleanup{fp::CommandThreadCleanup};
  EXPECT_EQ(checker->sendCommand(&cleanup), Status::Success);
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST_F(ReferenceSdkPlugin, DecidesMemoryChecksBySizeAndName) {
  ASSERT_EQ(checker->load(), Status::Success);
  auto instance = host.instance(*checker);
  HostPtr<fp::InputV1> input(
      instance->createInput(static_cast<std::uint32_t>(fp::InputType::MemoryFile)));
  const char bytes[] = "toolbar";
  EXPECT_EQ(input->setDetectionName("Adware.Toolbar.Search"), Status::Success);
  EXPECT_EQ(static_cast<fp::MemoryFileInputV1*>(input.get())->setBuffer(bytes, sizeof bytes),
            Status::Success);
  fp::OutputV1* output = nullptr;
  ASSERT_EQ(instance->check(input.get(), &output), Status::Success);
  HostPtr<fp::OutputV1> owned(output);
  EXPECT_TRUE(owned->isFalsePositive());
  EXPECT_TRUE(contains(host.log.texts(3),
                       "[fpcsdk] Check 'Adware.Toolbar.Search' size 8: false positive by the "
                       "rule on line 2"));
}

TEST_F(ReferenceSdkPlugin, AMalformedHashFailsTheCheck) {
  { std::ofstream(std::filesystem::path(sample)) << "x"; }
  ASSERT_EQ(checker->load(), Status::Success);
  Status status = Status::Success;
  EXPECT_EQ(checkFile("Trojan.Script.Phish", "not-a-hash", status), std::nullopt);
  EXPECT_EQ(status, Status::Error);
  EXPECT_TRUE(contains(host.log.texts(0), "Failed to check detection: invalid parameters"));
}

TEST_F(ReferenceSdkPlugin, ZeroRetriesFailTheLoad) {
  const auto retries = numberOption(fp::OptionConnectionRetries, 0);
  ASSERT_EQ(checker->getConfig()->setCustomOption(&retries), Status::Success);
  EXPECT_EQ(checker->load(), Status::Error);
  EXPECT_TRUE(contains(host.log.texts(0),
                       "[fpcsdk] Invalid settings: connection retries must be at least 1"));
}

TEST_F(ReferenceSdkPlugin, AMalformedProxyFailsTheLoad) {
  ASSERT_EQ(setOption(fp::OptionProxy, "proxy.example"), Status::Success);
  EXPECT_EQ(checker->load(), Status::Error);
  EXPECT_TRUE(contains(host.log.texts(0),
                       "Failed to set proxy 'proxy.example' with certificate path '' in VFPC SDK "
                       "library: invalid parameters"));
}

TEST_F(ReferenceSdkPlugin, AMissingCertificateFailsTheLoadWithCertificateError) {
  const std::string missing = copy.file("missing.pem");
  ASSERT_EQ(setOption(fp::OptionCertificatePath, missing.c_str()), Status::Success);
  EXPECT_EQ(checker->load(), Status::CertificateError);
}

TEST_F(ReferenceSdkPlugin, RefusesABadProxyOnTheFlyAndKeepsWorking) {
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(setOption(fp::OptionProxy, "http://"), Status::Error);
  EXPECT_EQ(setOption(fp::OptionCertificatePath, copy.file("missing.pem").c_str()),
            Status::CertificateError);
  EXPECT_EQ(setOption(fp::OptionProxy, "proxy.example:8080"), Status::Success);
  EXPECT_EQ(setOption(fp::OptionCertificatePath, copy.rulesFile().c_str()), Status::Success);
  Status status = Status::Error;
  EXPECT_EQ(checkFile("Adware.Toolbar.X", nullptr, status), std::nullopt)
      << "the sample file does not exist";
  EXPECT_EQ(status, Status::Error);
}

TEST(ReferenceSdkPluginRules, AMissingRulesFileFailsTheLoadAsAConnectionError) {
  PluginHost host;
  ReferenceSdkCopy copy(std::nullopt);
  auto checker = host.checker();
  configureOffline(*checker, copy.directory());
  EXPECT_EQ(checker->load(), Status::ConnectionError);
  EXPECT_TRUE(contains(host.log.texts(0), "[fpcsdk] Cannot read the rules file '" +
                                              copy.rulesFile() + "': it does not exist"));
  EXPECT_TRUE(contains(host.log.texts(0), "VFPC initialization failed with error endpoint not found"));
}

TEST(ReferenceSdkPluginRules, ABadRulesFileFailsTheLoadAsACloudError) {
  PluginHost host;
  ReferenceSdkCopy copy(std::string("fp\n"));
  auto checker = host.checker();
  configureOffline(*checker, copy.directory());
  EXPECT_EQ(checker->load(), Status::CloudError);
  EXPECT_TRUE(contains(host.log.texts(0), "VFPC initialization failed with error cloud error"));
}

TEST(ReferenceSdkPluginRules, TheBuiltDirectoryHoldsTheExampleRules) {
  PluginHost host;
  auto checker = host.checker();
  configureOffline(*checker, builtReferenceSdkDirectory());
  EXPECT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(checker->unload(), Status::Success);
}

}  // namespace
}  // namespace kesp::test
