// The host frees the plug-in library after releasing everything, while an SDK
// object that refused to shut down lives on. Kept in a program of its own:
// no other test may hold the plug-in library, or freeing it would prove
// nothing, and the SDK library stays mapped for the rest of the process.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using fp::Status;
using WriteLogFunction = bool (*)(std::int32_t level, const char* message);

TEST(PluginUnload, AnAbandonedSdkCanStillLogAfterTheHostFreesThePlugin) {
  FakeSdk::instance().reset();
  RecordingHostLog log;
  FakePluginInput input(&log);
  input.setString(kesp::PluginInputHostDataString, kHostDataString);
  auto plugin = std::make_unique<plx::DynamicLibrary>(pluginPath());
  kesp::plugins::PluginV1* object =
      plugin->getFunction<KESPGetPluginFunction>("KESPGetPlugin")(&input);
  ASSERT_NE(object, nullptr);
  fp::CheckerV1* checker = object->getChecker();
  ASSERT_NE(checker, nullptr);
  checker->getConfig()->setApiVersion(2, 0);
  ASSERT_EQ(checker->getConfig()->setBaseDirectory(sdkDirectory("good").c_str()),
            Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);

  FakeSdk::instance().setResult(SdkOp::Uninitialize, 11);
  log.clear();
  checker->release();
  object->release();
  EXPECT_EQ(log.texts(0),
            (std::vector<std::string>{"Failed to shut down VFPC SDK library on release: "
                                      "connection error; the library stays loaded"}));
  plugin.reset();  // dlclose / FreeLibrary, as a host does when it is done

  // The SDK object is alive and calls the interface it was given: that code
  // must still be there, and silent.
  const plx::DynamicLibrary sdk(
      plx::joinPath({sdkDirectory("good"), plx::sharedLibraryFileName("vfpcsdk")}));
  const auto writeLog = sdk.getFunction<WriteLogFunction>("kespTestSdkWriteLog");
  log.clear();
  EXPECT_FALSE(writeLog(0, "written after the plug-in library is gone"));
  EXPECT_EQ(log.lines(), std::vector<LogLine>{});
}

}  // namespace
}  // namespace kesp::test
