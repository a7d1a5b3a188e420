// The checker's configuration, and the settings the SDK receives from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;
using kesp::plugins::GenericData;

constexpr std::uint64_t kMaxTimeout = 9223372036854775807ull;
using ProxyPair = std::pair<std::string, std::string>;

Status setOption(fp::CheckerV1& checker, const GenericData& option) {
  return checker.getConfig()->setCustomOption(&option);
}
// Sets the configuration a reset forgot back to API 2.0 and the good SDK.
Status configureAgain(fp::CheckerV1& checker) {
  checker.getConfig()->setApiVersion(2, 0);
  return checker.getConfig()->setBaseDirectory(sdkDirectory("good").c_str());
}
// What the SDK receives from a host that set no option.
void expectDefaults(const fpcsdk::FPCConfig& config) {
  EXPECT_EQ(config.cloudUrl, "https://fpc.cloud.velnor.example/api/v2/check");
  EXPECT_EQ(config.sdkText1, "");
  EXPECT_EQ(config.hostDataString, kHostDataString);
  EXPECT_EQ(config.pluginVersionText, "2.1.0.29");
  EXPECT_EQ(config.sdkText7, "");
  EXPECT_EQ(config.sdkText4, "");
  EXPECT_EQ(config.connectionTimeout, 5000u);
  EXPECT_EQ(config.dataTimeout, 5000u);
  EXPECT_EQ(config.connectionRetries, 5u);
  EXPECT_EQ(FakeSdk::instance().proxies(), (std::vector<ProxyPair>{{"", ""}}));
}

// Loads a checker configured with options; returns the settings the SDK
// received (empty when the load failed).
struct LoadResult {
  Status status;
  std::vector<fpcsdk::FPCConfig> configs;
  std::vector<std::string> errors;
};

LoadResult loadWith(const std::vector<GenericData>& options) {
  PluginHost host;
  auto checker = host.configuredChecker();
  for (const GenericData& option : options) EXPECT_EQ(setOption(*checker, option), Status::Success);
  host.log.clear();
  LoadResult result{checker->load(), FakeSdk::instance().configs(), host.log.texts(0)};
  if (result.status == Status::Success) {
    EXPECT_EQ(checker->unload(), Status::Success);
  }
  return result;
}

TEST(SdkSettings, DefaultsWithoutOptions) {
  const LoadResult result = loadWith({});
  ASSERT_EQ(result.status, Status::Success);
  ASSERT_EQ(result.configs.size(), 1u);
  expectDefaults(result.configs[0]);
}

TEST(SdkSettings, EveryOptionReachesItsField) {
  const LoadResult result = loadWith({
      textOption(0, "https://fpc.example.net/v3"), textOption(1, "text one"),
      textOption(2, "proxy.example.net:3128"), textOption(3, "/etc/ssl/proxy.pem"),
      textOption(4, "text four"), numberOption(5, 1200, kesp::plugins::GenericDataInt1),
      numberOption(6, 3400, kesp::plugins::GenericDataInt2), textOption(7, "text seven"),
      numberOption(8, 9, kesp::plugins::GenericDataInt3)});
  ASSERT_EQ(result.status, Status::Success);
  ASSERT_EQ(result.configs.size(), 1u);
  const fpcsdk::FPCConfig& config = result.configs[0];
  EXPECT_EQ(config.cloudUrl, "https://fpc.example.net/v3");
  EXPECT_EQ(config.sdkText1, "text one");
  EXPECT_EQ(config.sdkText4, "text four");
  EXPECT_EQ(config.sdkText7, "text seven");
  EXPECT_EQ(config.connectionTimeout, 1200u);
  EXPECT_EQ(config.dataTimeout, 3400u);
  EXPECT_EQ(config.connectionRetries, 9u);
  EXPECT_EQ(FakeSdk::instance().proxies(),
            (std::vector<ProxyPair>{{"proxy.example.net:3128", "/etc/ssl/proxy.pem"}}));
}

TEST(SdkSettings, TheLastValueOfAnOptionWins) {
  const LoadResult result =
      loadWith({numberOption(5, 100), textOption(0, "https://first.example.net"),
                numberOption(5, 200), textOption(0, "https://second.example.net")});
  ASSERT_EQ(result.status, Status::Success);
  EXPECT_EQ(result.configs.at(0).connectionTimeout, 200u);
  EXPECT_EQ(result.configs.at(0).cloudUrl, "https://second.example.net");
}

TEST(SdkSettings, AnEmptyLastCloudUrlGivesTheDefault) {
  const LoadResult result = loadWith({textOption(0, "https://first.example.net"),
                                      textOption(0, "")});
  ASSERT_EQ(result.status, Status::Success);
  EXPECT_EQ(result.configs.at(0).cloudUrl, "https://fpc.cloud.velnor.example/api/v2/check");
}

TEST(SdkSettings, NumbersAreCheckedAgainstTheirLimitsAtLoad) {
  struct Case {
    std::uint32_t id;
    std::uint64_t value;
    const char* message;  // null: accepted
  };
  const Case cases[] = {
      {5, kMaxTimeout, nullptr},
      {5, kMaxTimeout + 1,
       "Invalid configuration: connection timeout '9223372036854775808' exceeds the maximum "
       "allowed"},
      {6, kMaxTimeout, nullptr},
      {6, 18446744073709551615ull,
       "Invalid configuration: data timeout '18446744073709551615' exceeds the maximum allowed"},
      {8, 4294967295ull, nullptr},
      {8, 4294967296ull,
       "Invalid configuration: connection retries '4294967296' exceeds the maximum allowed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const LoadResult result = loadWith({numberOption(c.id, c.value)});
    if (c.message == nullptr) {
      ASSERT_EQ(result.status, Status::Success);
      const fpcsdk::FPCConfig& config = result.configs.at(0);
      const std::uint64_t received = c.id == 5   ? config.connectionTimeout
                                     : c.id == 6 ? config.dataTimeout
                                                 : config.connectionRetries;
      EXPECT_EQ(received, c.value);
    } else {
      EXPECT_EQ(result.status, Status::Error);
      EXPECT_TRUE(result.configs.empty()) << "initialize was called";
      EXPECT_EQ(result.errors, (std::vector<std::string>{c.message, "VFPC checker load failed."}));
      // Undone in order: the SDK object, then the library; never uninitialize.
      EXPECT_EQ(FakeSdk::instance().events(),
                (std::vector<std::string>{"load", "FPCCreate", "FPCDestroy", "unload"}));
    }
  }
}

TEST(SdkSettings, TheFirstLimitViolationEndsTheLoad) {
  const LoadResult result = loadWith({numberOption(8, 4294967296ull),
                                      numberOption(6, kMaxTimeout + 1)});
  EXPECT_EQ(result.status, Status::Error);
  EXPECT_EQ(result.errors,
            (std::vector<std::string>{
                "Invalid configuration: data timeout '9223372036854775808' exceeds the maximum "
                "allowed",
                "VFPC checker load failed."}));
}

TEST(ConfigurationRefusals, EachRefusalHasItsLineAndStoresNothing) {
  static const char kText[] = "value";
  struct Case {
    GenericData option;
    std::string message;
  };
  const Case cases[] = {
      {textOption(9, kText), "Invalid configuration: custom option id '9' is invalid"},
      {textOption(4294967295u, kText),
       "Invalid configuration: custom option id '4294967295' is invalid"},
      {textOption(1, nullptr),
       "Exception: Invalid input: custom data with id '1' is of string type but string is null"},
      {pointerData(3, 5, kText), "Invalid configuration: custom option id '3' does not take "
                                 "values of type '5'; it takes text (type 4)"},
      {pointerData(8, 5, kText), "Invalid configuration: custom option id '8' does not take "
                                 "values of type '5'; it takes a number (type 1, 2 or 3)"},
      {pointerData(5, 6, kText), "Internal error: Unknown generic data type '6'"},
      {numberOption(0, 1), "Invalid configuration: custom option id '0' does not take values of "
                           "type '1'; it takes text (type 4)"},
      {numberOption(2, 1, kesp::plugins::GenericDataBool),
       "Invalid configuration: custom option id '2' does not take values of type '0'; it takes "
       "text (type 4)"},
      {textOption(5, "5000"),
       "Invalid configuration: custom option id '5' does not take values of type '4'; it takes "
       "a number (type 1, 2 or 3)"},
      {numberOption(8, 1, kesp::plugins::GenericDataBool),
       "Invalid configuration: custom option id '8' does not take values of type '0'; it takes "
       "a number (type 1, 2 or 3)"},
  };
  for (const Case& c : cases) {
    PluginHost host;
    auto checker = host.configuredChecker();
    fp::GlobalConfigV1* configuration = checker->getConfig();  // a line of its own
    host.log.clear();
    EXPECT_EQ(configuration->setCustomOption(&c.option), Status::Error);
    EXPECT_EQ(host.log.lines(), (std::vector<LogLine>{{0, 5, 0, c.message}}));
    // Nothing was stored: the SDK gets the defaults.
    ASSERT_EQ(checker->load(), Status::Success);
    expectDefaults(FakeSdk::instance().configs().at(0));
    EXPECT_EQ(checker->unload(), Status::Success);
  }
}

TEST(ConfigurationRefusals, ANullProxyOrCertificatePathIsStoredAsEmpty) {
  const LoadResult result = loadWith({textOption(2, "proxy:8080"), textOption(3, "/ca.pem"),
                                      textOption(2, nullptr), textOption(3, nullptr)});
  ASSERT_EQ(result.status, Status::Success);
  EXPECT_EQ(FakeSdk::instance().proxies(), (std::vector<ProxyPair>{{"", ""}}));
}

TEST(ConfigurationRefusals, BaseDirectoryMustBeText) {
  PluginHost host;
  auto checker = host.configuredChecker();
  host.log.clear();
  EXPECT_EQ(checker->getConfig()->setBaseDirectory(nullptr), Status::Error);
  EXPECT_EQ(checker->getConfig()->setBaseDirectory(""), Status::Error);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"Invalid configuration: base directory is null or empty",
                                      "Invalid configuration: base directory is null or empty"}));
  EXPECT_EQ(checker->load(), Status::Success) << "the earlier directory was lost";
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(ConfigurationReset, ForgetsEverythingButKeepsALoadedCheckerLoaded) {
  PluginHost host;
  auto checker = host.loadedChecker();
  ASSERT_EQ(setOption(*checker, numberOption(8, 7)), Status::Success);
  checker->getConfig()->reset();
  EXPECT_NE(checker->getInfo(), nullptr);
  EXPECT_EQ(checker->unload(), Status::Success);
  host.log.clear();
  EXPECT_EQ(checker->load(), Status::NotSupported);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"FP checker major API version is '0', expected '2'"}));
  checker->getConfig()->setApiVersion(2, 0);
  EXPECT_EQ(checker->load(), Status::Error) << "the base directory survived reset";
  ASSERT_EQ(configureAgain(*checker), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().configs().back().connectionRetries, 5u);
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(ConfigurationGrowth, ManyTextOptionsKeepTheirOwnCopies) {
  PluginHost host;
  auto checker = host.configuredChecker();
  // Short texts live inside the string objects, so every growth of the list
  // moves them; the last one must still be read correctly.
  std::string text;
  for (int i = 0; i < 200; ++i) {
    text = "u" + std::to_string(i);
    ASSERT_EQ(setOption(*checker, textOption(i % 2 == 0 ? 1 : 4, text.c_str())), Status::Success);
  }
  text = "overwritten";
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().configs().at(0).sdkText1, "u198");
  EXPECT_EQ(FakeSdk::instance().configs().at(0).sdkText4, "u199");
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(OnTheFlyProxy, ReachesTheLoadedSdkAtOnce) {
  PluginHost host;
  auto checker = host.configuredChecker();
  ASSERT_EQ(setOption(*checker, textOption(2, "before:1")), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  FakeSdk& sdk = FakeSdk::instance();

  // The remembered pair starts as the load sent it.
  EXPECT_EQ(setOption(*checker, textOption(3, "/ca.pem")), Status::Success);
  EXPECT_EQ(setOption(*checker, textOption(2, "proxy:3128")), Status::Success);

  sdk.setResult(SdkOp::SetProxy, 11);
  host.log.clear();
  const GenericData refused = textOption(2, "bad:1");
  EXPECT_EQ(setOption(*checker, refused), Status::ConnectionError);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"Failed to set on-the-fly proxy 'bad:1' with certificate "
                                      "path '/ca.pem' in VFPC SDK library: connection error"}));
  sdk.setResult(SdkOp::SetProxy, 99);
  EXPECT_EQ(setOption(*checker, refused), Status::Error);
  sdk.setResult(SdkOp::SetProxy, 0);
  EXPECT_EQ(sdk.proxies(), (std::vector<ProxyPair>{{"before:1", ""},
                                                   {"before:1", "/ca.pem"},
                                                   {"proxy:3128", "/ca.pem"},
                                                   {"bad:1", "/ca.pem"},
                                                   {"bad:1", "/ca.pem"}}));

  // Refused values were not stored: the next load uses the last accepted.
  ASSERT_EQ(checker->unload(), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(sdk.proxies().back(), (ProxyPair{"proxy:3128", "/ca.pem"}));
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(OnTheFlyProxy, AValueOfTheWrongTypeNeverReachesTheSdk) {
  PluginHost host;
  auto checker = host.loadedChecker();
  FakeSdk::instance().clearEvents();
  static const char kRaw[] = "raw";
  EXPECT_EQ(setOption(*checker, numberOption(2, 0x1234)), Status::Error);
  EXPECT_EQ(setOption(*checker, pointerData(3, 5, kRaw)), Status::Error);
  EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{});
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(OnTheFlyProxy, AChangeOfOneHalfKeepsTheOtherHalfTheLoadSent) {
  PluginHost host;
  auto checker = host.configuredChecker();
  ASSERT_EQ(setOption(*checker, textOption(2, "proxy.corp:3128")), Status::Success);
  ASSERT_EQ(setOption(*checker, textOption(3, "/etc/ca.pem")), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  ASSERT_EQ(setOption(*checker, textOption(3, "/etc/ca-2.pem")), Status::Success);
  EXPECT_EQ(FakeSdk::instance().proxies(),
            (std::vector<ProxyPair>{{"proxy.corp:3128", "/etc/ca.pem"},
                                    {"proxy.corp:3128", "/etc/ca-2.pem"}}));
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(OnTheFlyProxy, APairOfAnEarlierSessionIsForgotten) {
  PluginHost host;
  auto checker = host.loadedChecker();
  ASSERT_EQ(setOption(*checker, textOption(2, "old.proxy:8080")), Status::Success);
  ASSERT_EQ(checker->unload(), Status::Success);
  checker->getConfig()->reset();
  ASSERT_EQ(configureAgain(*checker), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  ASSERT_EQ(setOption(*checker, textOption(3, "/etc/ca.pem")), Status::Success);
  EXPECT_EQ(FakeSdk::instance().proxies(),
            (std::vector<ProxyPair>{
                {"", ""}, {"old.proxy:8080", ""}, {"", ""}, {"", "/etc/ca.pem"}}));
  EXPECT_EQ(checker->unload(), Status::Success);
}

}  // namespace
}  // namespace kesp::test
