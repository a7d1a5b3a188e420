// Where the checker SDK's own imports come from: the SDK's directory (and
// the system's), never the current directory, where anyone who can write
// could plant a library of the expected name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/plugin/sdk_import_values.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

namespace fs = std::filesystem;
using fp::Status;

fs::path fromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

const std::string kSdkFile = plx::sharedLibraryFileName("vfpcsdk");
const std::string kDependencyFile = plx::sharedLibraryFileName("vfpcsdkdep");

// A file of the stand-in whose SDK library imports kDependencyFile.
fs::path built(const std::string& name) { return fromUtf8(sdkDirectory("dependent")) / name; }

// Makes directory the current one for a scope; the old one is back before
// any temporary directory is removed.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const fs::path& directory) : previous_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~CurrentDirectory() { fs::current_path(previous_); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  fs::path previous_;
};

Status loadFrom(PluginHost& host, fp::CheckerV1& checker, const std::string& baseDirectory) {
  checker.getConfig()->setApiVersion(2, 0);
  EXPECT_EQ(checker.getConfig()->setBaseDirectory(baseDirectory.c_str()), Status::Success);
  host.log.clear();
  return checker.load();
}

TEST(SdkImports, AnImportOnlyInTheCurrentDirectoryIsNotUsed) {
  const TempDir sdk;
  const TempDir planted;
  fs::copy_file(built(kSdkFile), sdk.path() / kSdkFile);
  fs::copy_file(built(kDependencyFile), planted.path() / kDependencyFile);
  {
    const CurrentDirectory inPlanted(planted.path());
    PluginHost host;
    auto checker = host.checker();
    EXPECT_EQ(loadFrom(host, *checker, sdk.utf8Path()), Status::LoadFailed);
    const std::string path = plx::joinPath({sdk.utf8Path(), kSdkFile});
    EXPECT_EQ(host.log.texts(0),
              (std::vector<std::string>{"Failed to load VFPC SDK library '" + path +
                                            "'. Error loading library: " + path +
                                            missingImportReason(kDependencyFile),
                                        "VFPC checker load failed."}));
    EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{});
  }
}

TEST(SdkImports, AnImportBesideTheSdkIsFoundWhateverTheCurrentDirectory) {
  const TempDir elsewhere;
  const CurrentDirectory inElsewhere(elsewhere.path());
  PluginHost host;
  auto checker = host.checker();
  EXPECT_EQ(loadFrom(host, *checker, sdkDirectory("dependent")), Status::Success);
  EXPECT_EQ(host.log.texts(0), std::vector<std::string>{});
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"load", "FPCCreate", "initialize", "setProxy",
                                      "uninitialize", "FPCDestroy", "unload"}));
}

// A relative base directory is the host's choice of the system's search
// order, which starts from the current directory for a path like this one.
TEST(SdkImports, ARelativeBaseDirectoryIsLeftToTheSystemsSearchOrder) {
  const CurrentDirectory inSdks(fromUtf8(sdkDirectory("")));
  PluginHost host;
  auto checker = host.checker();
  EXPECT_EQ(loadFrom(host, *checker, "good"), Status::Success);
  EXPECT_EQ(host.log.texts(0), std::vector<std::string>{});
  EXPECT_EQ(checker->unload(), Status::Success);
}

}  // namespace
}  // namespace kesp::test
