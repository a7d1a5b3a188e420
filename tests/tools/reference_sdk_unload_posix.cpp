// The reference SDK really leaves the process at the checker's unload, so a
// vendor can replace the library while the host runs. The dynamic loader
// keeps a library mapped for good when it has GNU-unique symbols; Windows
// has no such binding, so this is a Linux matter.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/tools/reference_sdk_directory.h"

namespace kesp::test {
namespace {

using fp::Status;

// Whether any mapping of this process comes from a file at path, as the
// kernel lists it, whatever the loader's own bookkeeping says; also one
// that has been removed since (listed as "<path> (deleted)").
bool isMapped(const std::string& path) {
  const std::string canonical = std::filesystem::canonical(path).string();
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find(canonical) != std::string::npos) return true;
  }
  return false;
}

bool contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The first library that defines a GNU-unique symbol is the one kept for
// good (later ones bind to its copy), so this runs in a program of its own,
// where no other test has loaded the reference SDK before.
TEST(ReferenceSdkUnload, LeavesTheProcessAndAChangedCopyIsWhatTheNextLoadGets) {
  FakeSdk::instance().reset();
  PluginHost host;
  const ReferenceSdkCopy copy(std::string("fp Adware.Toolbar.*\n"));
  const auto checker = host.checker();
  checker->getConfig()->setApiVersion(2, 0);
  ASSERT_EQ(checker->getConfig()->setBaseDirectory(copy.directory().c_str()), Status::Success);
  const auto offline = textOption(fp::OptionCloudUrl, "file:vfpcsdk.rules");
  ASSERT_EQ(checker->getConfig()->setCustomOption(&offline), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_TRUE(isMapped(copy.library()));
  EXPECT_TRUE(contains(host.log.texts(2),
                       "[fpcsdk] Read 1 rule(s) from '" + copy.rulesFile() + "'"));
  ASSERT_EQ(checker->unload(), Status::Success);
  EXPECT_FALSE(isMapped(copy.library()));

  // A new file, not a rewrite of the old one: had the old one stayed mapped,
  // writing into it would change code that is still in use.
  const std::filesystem::path library(copy.library());
  std::filesystem::remove(library);
  std::filesystem::copy_file(
      plx::joinPath({sdkDirectory("good"), plx::sharedLibraryFileName("vfpcsdk")}), library);
  host.log.clear();
  ASSERT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"load", "FPCCreate", "initialize", "setProxy"}));
  // The plug-in's line names the new file, the test SDK by its build id;
  // nothing of the reference SDK is left to speak.
  const std::vector<std::string> lines = host.log.texts(2);
  ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
  const std::string named = "Loaded VFPC SDK library '" + copy.library() +
                            "': build id 5dc0ffee0123456789abcdef0123456789abcdef, ";
  EXPECT_EQ(lines[0].substr(0, named.size()), named);
  ASSERT_EQ(checker->unload(), Status::Success);
  EXPECT_FALSE(isMapped(copy.library()));
}

}  // namespace
}  // namespace kesp::test
