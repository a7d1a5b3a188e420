// Loading the checker SDK: where the library comes from, what each failing
// step reports, and that every failure is undone in order.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using fp::Status;

// The platform's way of naming the SDK library inside a base directory.
std::string sdkLibraryPath(const std::string& directory) {
  return plx::joinPath({directory, plx::sharedLibraryFileName("vfpcsdk")});
}

struct SdkCode {
  std::int32_t code;
  Status status;
  const char* text;
};

const SdkCode kSdkCodes[] = {
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
};

struct LoadStep {
  SdkOp op;
  const char* call;  // the SDK's name of the operation
  const char* messagePrefix;
  std::vector<std::string> events;  // what the SDK sees, undo included
};

const LoadStep kLoadSteps[] = {
    {SdkOp::Create, "FPCCreate", "Internal error: creation of VFPC object failed with error ",
     {"load", "FPCCreate", "unload"}},
    {SdkOp::Initialize, "initialize", "VFPC initialization failed with error ",
     {"load", "FPCCreate", "initialize", "FPCDestroy", "unload"}},
    {SdkOp::SetProxy, "setProxy",
     "Failed to set proxy 'proxy:1' with certificate path '/ca.pem' in VFPC SDK library: ",
     {"load", "FPCCreate", "initialize", "setProxy", "FPCDestroy", "unload"}},
};

// A checker with a proxy and its certificate path set, whose SDK answers
// code at step.
HostPtr<fp::CheckerV1> failingAt(PluginHost& host, const LoadStep& step, std::int32_t code) {
  auto checker = host.configuredChecker();
  for (const auto& option : {textOption(2, "proxy:1"), textOption(3, "/ca.pem")}) {
    checker->getConfig()->setCustomOption(&option);
  }
  FakeSdk::instance().setResult(step.op, code);
  host.log.clear();
  return checker;
}

TEST(SdkLoad, EveryKnownSdkFailureAtEveryStepIsMappedLoggedOnceAndUndone) {
  for (const LoadStep& step : kLoadSteps) {
    for (const SdkCode& code : kSdkCodes) {
      SCOPED_TRACE(std::string(step.messagePrefix) + code.text);
      PluginHost host;
      auto checker = failingAt(host, step, code.code);
      EXPECT_EQ(checker->load(), code.status);
      EXPECT_EQ(host.log.texts(0), (std::vector<std::string>{
                                       std::string(step.messagePrefix) + code.text,
                                       "VFPC checker load failed."}));
      EXPECT_EQ(FakeSdk::instance().events(), step.events);
      EXPECT_EQ(checker->getInfo(), nullptr);
    }
  }
}

TEST(SdkLoad, AnUnknownSdkCodeIsAnErrorAfterTheUndo) {
  for (const LoadStep& step : kLoadSteps) {
    for (const std::int32_t code : {13, -1}) {
      PluginHost host;
      auto checker = failingAt(host, step, code);
      EXPECT_EQ(checker->load(), Status::Error);
      const std::string shown = code == 13 ? "13" : "4294967295";
      EXPECT_EQ(host.log.texts(0),
                (std::vector<std::string>{"Internal error: VFPC SDK error '" + shown +
                                          "' is not yet mapped to a string description"}));
      EXPECT_EQ(FakeSdk::instance().events(), step.events);
    }
  }
}

TEST(SdkLoad, ExceptionsThrownByTheSdkAreErrorsAfterTheUndo) {
  // The SDK's exception must not outlive the library that threw it.
  const std::pair<std::int32_t, const char*> throws[] = {
      {kThrowStandardException, ": test SDK failure"},
      {kThrowUnknownException, " that is not a standard exception"},
  };
  for (const LoadStep& step : kLoadSteps) {
    for (const auto& [code, ending] : throws) {
      const std::string line =
          std::string("VFPC SDK threw an exception from ") + step.call + ending;
      SCOPED_TRACE(line);
      PluginHost host;
      auto checker = failingAt(host, step, code);
      EXPECT_EQ(checker->load(), Status::Error);
      EXPECT_EQ(host.log.texts(0), std::vector<std::string>{line});
      EXPECT_EQ(FakeSdk::instance().events(), step.events);
      FakeSdk::instance().setResult(step.op, 0);
      EXPECT_EQ(checker->load(), Status::Success) << "the failed load left something behind";
      EXPECT_EQ(checker->unload(), Status::Success);
    }
  }
}

TEST(SdkUnload, AnExceptionFromUninitializeKeepsEverythingLoaded) {
  PluginHost host;
  auto checker = host.loadedChecker();
  FakeSdk::instance().setResult(SdkOp::Uninitialize, kThrowStandardException);
  host.log.clear();
  EXPECT_EQ(checker->unload(), Status::Error);
  EXPECT_EQ(host.log.texts(0), std::vector<std::string>{
                                   "VFPC SDK threw an exception from uninitialize: test SDK failure"});
  FakeSdk::instance().setResult(SdkOp::Uninitialize, 0);
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(SdkUnload, AnExceptionFromFPCDestroyStillUnloadsAndFreesTheLibrary) {
  const std::pair<std::int32_t, const char*> throws[] = {
      {kThrowStandardException, "VFPC SDK threw an exception from FPCDestroy: test SDK failure"},
      {kThrowUnknownException,
       "VFPC SDK threw an exception from FPCDestroy that is not a standard exception"},
  };
  for (const auto& [code, line] : throws) {
    SCOPED_TRACE(line);
    PluginHost host;
    auto checker = host.loadedChecker();
    FakeSdk::instance().setResult(SdkOp::Destroy, code);
    FakeSdk::instance().clearEvents();
    host.log.clear();
    EXPECT_EQ(checker->unload(), Status::Error);
    EXPECT_EQ(host.log.texts(0), std::vector<std::string>{line});
    EXPECT_EQ(FakeSdk::instance().events(),
              (std::vector<std::string>{"uninitialize", "FPCDestroy", "unload"}));
    // The SDK object is gone: a retry must not reach it.
    FakeSdk::instance().clearEvents();
    host.log.clear();
    EXPECT_EQ(checker->unload(), Status::NotInitialized);
    EXPECT_EQ(host.log.texts(0), std::vector<std::string>{"VFPC is not loaded"});
    EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{});
    FakeSdk::instance().setResult(SdkOp::Destroy, 0);
    EXPECT_EQ(checker->load(), Status::Success);
    EXPECT_EQ(checker->unload(), Status::Success);
  }
}

TEST(SdkLoad, FindsTheLibraryInTheBaseDirectoryWithOrWithoutATrailingSeparator) {
  const std::string directory = sdkDirectory("good");
  const char separator = plx::joinPath({"a", "b"})[1];
  for (const std::string& base : {directory, directory + separator}) {
    PluginHost host;
    auto checker = host.configuredChecker();
    ASSERT_EQ(checker->getConfig()->setBaseDirectory(base.c_str()), Status::Success);
    EXPECT_EQ(checker->load(), Status::Success) << base;
    EXPECT_EQ(checker->unload(), Status::Success);
  }
}

// Base directories whose library cannot be used: how the first line starts
// after the library's path (<path> stands for it), and what the SDK saw.
struct UnusableLibrary {
  const char* variant;
  std::string detail;
  std::vector<std::string> events;
};

const UnusableLibrary kUnusableLibraries[] = {
    {"empty", "Error loading library: <path>. ", {}},
    {"not-a-library", "Error loading library: <path>", {}},
    // The library announced its load and its unload; nothing was created.
    {"without-destroy", "Error loading library symbol: FPCDestroy", {"load", "unload"}},
};

TEST(SdkLoad, AnUnusableLibraryFailsWithThePathAndIsNotLeftLoaded) {
  for (const UnusableLibrary& library : kUnusableLibraries) {
    SCOPED_TRACE(library.variant);
    PluginHost host;
    auto checker = host.configuredChecker(library.variant);
    host.log.clear();
    EXPECT_EQ(checker->load(), Status::LoadFailed);
    const std::string path = sdkLibraryPath(sdkDirectory(library.variant));
    std::string detail = library.detail;
    if (const auto at = detail.find("<path>"); at != std::string::npos) detail.replace(at, 6, path);
    const std::string start = "Failed to load VFPC SDK library '" + path + "'. " + detail;
    const std::vector<std::string> errors = host.log.texts(0);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].substr(0, start.size()), start) << errors[0];
    EXPECT_EQ(errors[1], "VFPC checker load failed.");
    EXPECT_EQ(FakeSdk::instance().events(), library.events);
  }
}

// What each SDK file carries to name its build. The test SDK is linked with
// a fixed build id on ELF and has no version resource; the reference SDK's
// DLL carries the project's version, its ELF file a build id of its content.
struct CarriedIdentity {
  std::string library;
  std::string pattern;
};

std::vector<CarriedIdentity> carriedIdentities() {
  const std::string referenceSdk = plx::joinPath(
      {executableDirectory(), "reference-sdk", plx::sharedLibraryFileName("vfpcsdk")});
#if defined(_WIN32)
  return {{sdkLibraryPath(sdkDirectory("good")), "no file version"},
          {referenceSdk, "file version 2\\.1\\.0\\.29"}};
#else
  return {{sdkLibraryPath(sdkDirectory("good")), "build id 5dc0ffee0123456789abcdef0123456789abcdef"},
          {referenceSdk, "build id [0-9a-f]{40}"}};
#endif
}

TEST(SdkLoad, NamesTheLoadedLibraryByFullPathWithItsVersionAtLevelTwo) {
  // 2024-02-29 23:59:58 UTC, set on a copy so that the line is known whole.
  const std::chrono::sys_seconds modified{std::chrono::seconds{1709251198}};
  for (const CarriedIdentity& sdk : carriedIdentities()) {
    SCOPED_TRACE(sdk.library);
    const TempDir directory;
    const std::filesystem::path copy =
        directory.path() / std::filesystem::path(sdk.library).filename();
    std::filesystem::copy_file(std::filesystem::path(sdk.library), copy);
    std::filesystem::last_write_time(copy, std::chrono::file_clock::from_sys(modified));
    PluginHost host;
    auto checker = host.configuredChecker();
    ASSERT_EQ(checker->getConfig()->setBaseDirectory(directory.utf8Path().c_str()),
              Status::Success);
    host.log.clear();
    checker->load();  // the reference SDK, without rules or a cloud URL, may refuse

    const std::string start = "Loaded VFPC SDK library '" + utf8(copy) + "': ";
    const std::string end = ", " + std::to_string(std::filesystem::file_size(copy)) +
                            " bytes, modified 2024-02-29 23:59:58 UTC";
    const std::vector<std::string> lines = host.log.texts(2);
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    ASSERT_GT(lines[0].size(), start.size() + end.size()) << lines[0];
    EXPECT_EQ(lines[0].substr(0, start.size()), start);
    EXPECT_EQ(lines[0].substr(lines[0].size() - end.size()), end);
    EXPECT_TRUE(std::regex_match(
        lines[0].substr(start.size(), lines[0].size() - start.size() - end.size()),
        std::regex(sdk.pattern)))
        << lines[0];
    static_cast<void>(checker->unload());

    // A host that keeps no information lines gets none, and the file is not
    // asked for them.
    host.log.setMaxLevel(1);
    host.log.clear();
    checker->load();
    EXPECT_EQ(host.log.texts(2), std::vector<std::string>{});
    static_cast<void>(checker->unload());
  }
}

TEST(SdkLoad, LoadsAndUnloadsInOrder) {
  PluginHost host;
  auto checker = host.loadedChecker();
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"load", "FPCCreate", "initialize", "setProxy",
                                      "uninitialize", "FPCDestroy", "unload"}));
}

TEST(SdkUnload, EveryKnownRefusalKeepsEverythingLoaded) {
  for (const SdkCode& code : kSdkCodes) {
    SCOPED_TRACE(code.text);
    PluginHost host;
    auto checker = host.loadedChecker();
    FakeSdk::instance().setResult(SdkOp::Uninitialize, code.code);
    FakeSdk::instance().clearEvents();
    host.log.clear();
    EXPECT_EQ(checker->unload(), code.status);
    EXPECT_EQ(host.log.texts(0), std::vector<std::string>{});
    EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{"uninitialize"});
    FakeSdk::instance().setResult(SdkOp::Uninitialize, 0);
    EXPECT_EQ(checker->unload(), Status::Success);
  }
}

}  // namespace
}  // namespace kesp::test
