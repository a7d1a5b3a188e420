// Check inputs as the host fills them: what they accept, refuse and copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;
using kesp::plugins::BoolPair;
using kesp::plugins::GenericData;
using kesp::plugins::IntPair;
using kesp::plugins::StrPair;

class Inputs : public ::testing::Test {
 protected:
  void SetUp() override {
    checker = host.loadedChecker();
    instance = host.instance(*checker);
    input.reset(static_cast<fp::MemoryFileInputV1*>(instance->createInput(1)));
    ASSERT_NE(input, nullptr);
    host.log.clear();
  }
  void TearDown() override {
    input.reset();
    instance.reset();
    EXPECT_EQ(checker->unload(), Status::Success);
  }
  // Checks the input and returns what the SDK received.
  fpcsdk::DetectionInput checked() {
    fp::OutputV1* output = nullptr;
    EXPECT_EQ(instance->check(input.get(), &output), Status::Success);
    if (output != nullptr) output->release();
    const auto detections = FakeSdk::instance().detections();
    return detections.empty() ? fpcsdk::DetectionInput{} : detections.back();
  }

  PluginHost host;
  HostPtr<fp::CheckerV1> checker;
  HostPtr<fp::InstanceV1> instance;
  HostPtr<fp::MemoryFileInputV1> input;
  const char bytes[4] = "abc";
};

TEST_F(Inputs, RefusalsLeaveTheStoredValues) {
  ASSERT_EQ(input->setDetectionName("First"), Status::Success);
  ASSERT_EQ(input->setPath("/first"), Status::Success);
  ASSERT_EQ(input->setBuffer(bytes, 3), Status::Success);
  host.log.clear();
  EXPECT_EQ(input->setDetectionName(nullptr), Status::Error);
  EXPECT_EQ(input->setDetectionName(""), Status::Error);
  EXPECT_EQ(input->setPath(nullptr), Status::Error);
  EXPECT_EQ(input->setPath(""), Status::Error);
  EXPECT_EQ(input->setBuffer(nullptr, 7), Status::Error);
  EXPECT_EQ(host.log.lines(), (std::vector<LogLine>{
                                  {0, 5, 0, "Invalid input: detection name is null or empty"},
                                  {0, 5, 0, "Invalid input: detection name is null or empty"},
                                  {0, 5, 0, "Invalid input: path is null or empty"},
                                  {0, 5, 0, "Invalid input: path is null or empty"},
                                  {0, 5, 0, "Invalid input: buffer is null"}}));
  const fpcsdk::DetectionInput record = checked();
  EXPECT_EQ(record.detectionName, "First");
  EXPECT_EQ(record.filePath, "/first");
  EXPECT_EQ(record.fileSize, 3u);
}

TEST_F(Inputs, CustomDataRefusalsNameTheReason) {
  static const char kText[] = "t";
  const StrPair nullValue{"key", nullptr};
  const StrPair nullKey{nullptr, "v"};
  const BoolPair nullBoolKey{nullptr, true};
  const IntPair nullIntKey{nullptr, 1};
  const std::pair<GenericData, std::string> cases[] = {
      {textOption(5, kText), "Invalid input: custom data id '5' is invalid"},
      {textOption(10004, kText), "Invalid input: custom data id '10004' is invalid"},
      {pointerData(10000, 5, kText),
       "FP checker error: Unexpected id '10000' for custom input option"},
      {pointerData(0, 5, kText), "FP checker error: Unexpected id '0' for custom input option"},
      {pointerData(10001, 5, nullptr), "FP checker error: Invalid data for custom option '10001'"},
      {pointerData(10001, 5, &nullBoolKey),
       "FP checker error: Invalid key for bool pair custom option"},
      {pointerData(10002, 5, &nullIntKey),
       "FP checker error: Invalid key for int pair custom option"},
      {pointerData(10003, 5, &nullKey), "FP checker error: Invalid key for str pair custom option"},
      {pointerData(10003, 5, &nullValue),
       "FP checker error: Invalid string value for str pair custom option"},
      {textOption(0, nullptr),
       "Exception: Invalid input: custom data with id '0' is of string type but string is null"},
      {pointerData(10001, 9, kText), "Internal error: Unknown generic data type '9'"},
  };
  for (const auto& [data, message] : cases) {
    host.log.clear();
    EXPECT_EQ(input->addCustomData(&data), Status::Error);
    EXPECT_EQ(host.log.lines(), (std::vector<LogLine>{{0, 5, 0, message}}));
  }
  EXPECT_EQ(input->addCustomData(nullptr), Status::Error);
  // Nothing was stored.
  ASSERT_EQ(input->setDetectionName("N"), Status::Success);
  ASSERT_EQ(input->setBuffer(bytes, 1), Status::Success);
  const fpcsdk::DetectionInput record = checked();
  EXPECT_EQ(record.hash, "");
  EXPECT_EQ(record.extraData, "");
  EXPECT_TRUE(record.customOptions.boolOptions.empty());
  EXPECT_TRUE(record.customOptions.intOptions.empty());
  EXPECT_TRUE(record.customOptions.stringOptions.empty());
}

TEST_F(Inputs, ValuesArePassedOnExactlyAsGiven) {
  // No normalisation: blanks, case, odd characters and long texts pass.
  const std::string name = " Trojan.Win32/Agent!ml ÄÖ \t";
  const std::string hash = "not-a-hash " + std::string(1000, 'F');
  const IntPair big{"max", 0x7FFFFFFFFFFFFFFFll};
  const IntPair negative{"min", -0x7FFFFFFFFFFFFFFFll - 1};
  ASSERT_EQ(input->setDetectionName(name.c_str()), Status::Success);
  ASSERT_EQ(input->setBuffer(bytes, 18446744073709551615ull), Status::Success);
  const GenericData data[] = {textOption(0, hash.c_str()), pointerData(10002, 5, &big),
                              pointerData(10002, 5, &negative)};
  for (const GenericData& item : data) ASSERT_EQ(input->addCustomData(&item), Status::Success);
  const fpcsdk::DetectionInput record = checked();
  EXPECT_EQ(record.detectionName, name);
  EXPECT_EQ(record.hash, hash);
  EXPECT_EQ(record.fileSize, 18446744073709551615ull);
  EXPECT_EQ(record.customOptions.intOptions,
            (std::unordered_map<std::string, std::int64_t>{{"max", big.value},
                                                            {"min", negative.value}}));
}

TEST_F(Inputs, ManyPairsSurviveTheGrowthOfTheList) {
  ASSERT_EQ(input->setDetectionName("N"), Status::Success);
  ASSERT_EQ(input->setBuffer(bytes, 1), Status::Success);
  std::unordered_map<std::string, std::string> expected;
  for (int i = 0; i < 100; ++i) {
    const std::string key = "k" + std::to_string(i);
    const std::string value = "v" + std::to_string(i);
    const StrPair pair{key.c_str(), value.c_str()};
    const GenericData item = pointerData(10003, 5, &pair);
    ASSERT_EQ(input->addCustomData(&item), Status::Success);
    expected[key] = value;
    const std::string hash = "h" + std::to_string(i);
    const GenericData hashItem = textOption(0, hash.c_str());
    ASSERT_EQ(input->addCustomData(&hashItem), Status::Success);
  }
  const fpcsdk::DetectionInput record = checked();
  EXPECT_EQ(record.customOptions.stringOptions, expected);
  EXPECT_EQ(record.hash, "h0");
}

TEST_F(Inputs, AnInputCanBeCheckedAgainAfterAChange) {
  ASSERT_EQ(input->setDetectionName("One"), Status::Success);
  ASSERT_EQ(input->setBuffer(bytes, 1), Status::Success);
  EXPECT_EQ(checked().detectionName, "One");
  ASSERT_EQ(input->setDetectionName("Two"), Status::Success);
  ASSERT_EQ(input->setBuffer(bytes, 2), Status::Success);
  const fpcsdk::DetectionInput record = checked();
  EXPECT_EQ(record.detectionName, "Two");
  EXPECT_EQ(record.fileSize, 2u);
}

TEST_F(Inputs, UnknownInputTypesAreRefused) {
  host.log.clear();
  EXPECT_EQ(instance->createInput(2), nullptr);
  EXPECT_EQ(host.log.texts(0), (std::vector<std::string>{"Invalid input: type '2' is invalid"}));
}

TEST_F(Inputs, InstanceOptionsRefuseEverything) {
  fp::OptionsV1* options = instance->getOptions();
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(instance->getOptions(), options);
  host.log.clear();
  const GenericData option = numberOption(5, 1);
  EXPECT_EQ(options->setCustomOption(&option), Status::NotSupported);
  EXPECT_EQ(options->setCustomOption(nullptr), Status::NotSupported);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"No custom options are supported at the moment",
                                      "No custom options are supported at the moment"}));
}

}  // namespace
}  // namespace kesp::test
