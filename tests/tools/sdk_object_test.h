// A fixture for tests that drive one SDK object of a private copy of the
// reference SDK through the SDK interface alone, and the detection they check.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fpcsdk/fpcsdk.h"
#include "tests/tools/reference_sdk_directory.h"
#include "tests/tools/reference_sdk_library.h"
#include "tests/tools/sdk_log_recorder.h"

namespace kesp::test {

// A file detection of 1234 bytes.
inline fpcsdk::DetectionInput fileDetection(const std::string& name, const std::string& hash,
                                            const std::string& path) {
  fpcsdk::DetectionInput input;
  input.detectionName = name;
  input.hash = hash;
  input.filePath = path;
  input.fileSize = 1234;
  return input;
}

class SdkObjectTest : public ::testing::Test {
 protected:
  // The copy's rules file holds rules, or is absent.
  explicit SdkObjectTest(const std::optional<std::string>& rules)
      : copy(rules), sdk(copy.library()), fpc(sdk.create(&log)) {}

  // An instance of the SDK object, destroyed after the test body.
  fpcsdk::FPCInstance* newInstance() {
    fpcsdk::FPCInstance* instance = nullptr;
    EXPECT_EQ(fpc->createFpcInstance(&instance), 0);
    instances.push_back(instance);
    return instance;
  }

  void TearDown() override {
    for (fpcsdk::FPCInstance* instance : instances) EXPECT_EQ(fpc->destroyFpcInstance(instance), 0);
  }

  ReferenceSdkCopy copy;
  SdkLogRecorder log;
  Sdk sdk;
  Sdk::FpcPtr fpc;
  std::vector<fpcsdk::FPCInstance*> instances;
};

}  // namespace kesp::test
