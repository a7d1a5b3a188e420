#include "foundation/dynamic_library.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "foundation/exceptions.h"
#include "tests/foundation/probe_library.h"
#include "tests/support/test_paths.h"

namespace {

// The platform differences: the separator, the library file name, and the
// reason that follows the path or symbol name in a load failure (Windows
// gives the system error code and the system's words for it, here Wine's;
// dlopen gives no reliable code, so its own text is the reason).
#if defined(_WIN32)
const std::string kSeparator = "\\";
const std::string kOtherSlash = "/";
const std::string kSdkFileName = "vfpcsdk.dll";
std::string missingFileReason(const std::string&) {
  return ". System error code: 126 (Module not found.)";
}
std::string missingSymbolReason(const std::string&, const std::string&) {
  return ". System error code: 127 (Procedure not found.)";
}
#else
const std::string kSeparator = "/";
const std::string kOtherSlash = "\\";
const std::string kSdkFileName = "libvfpcsdk.so";
std::string missingFileReason(const std::string& path) {
  return ". " + path + ": cannot open shared object file: No such file or directory";
}
std::string missingSymbolReason(const std::string& library, const std::string& symbol) {
  return ". " + library + ": undefined symbol: " + symbol;
}
#endif

std::string probePath() {
  return plx::joinPath(
      {kesp::test::executableDirectory(), plx::sharedLibraryFileName("foundation_probe")});
}

// The what() text of the exception that loading path throws.
template <class Exception>
std::string loadFailureText(const std::string& path) {
  try {
    plx::DynamicLibrary library(path);
  } catch (const Exception& error) {
    return error.what();
  } catch (const std::exception& error) {
    return std::string("(other exception) ") + error.what();
  }
  return "(loaded)";
}

TEST(DynamicLibrary, EmptyPathIsRefused) {
  EXPECT_EQ(loadFailureText<plx::LoadingLibraryException>(""),
            "Error loading library: Library path is an empty string");
}

TEST(DynamicLibrary, MissingFileNamesThePathAndTheReason) {
  const kesp::test::TempDir directory;
  const std::string path = directory.file(plx::sharedLibraryFileName("absent"));
  EXPECT_EQ(loadFailureText<plx::LoadingLibraryException>(path),
            "Error loading library: " + path + missingFileReason(path));
}

TEST(DynamicLibrary, PathThatIsNotUtf8IsRefusedOnEveryPlatform) {
  // Windows cannot convert it for LoadLibraryW; elsewhere the bytes could be
  // passed on, but a path is UTF-8 everywhere and fails the same way.
  const kesp::test::TempDir directory;
  const std::string path = directory.utf8Path() + kSeparator + "sdk\xC0\x80.dll";
  EXPECT_EQ(loadFailureText<plx::ConversionStringException>(path),
            "Error converting string encoding: Cannot get needed size for Utf-8 to Utf-16 "
            "conversion");
}

TEST(DynamicLibrary, LoadedExportCanBeCalled) {
  const plx::DynamicLibrary library(probePath());
  const auto answer = library.getFunction<ProbeAnswerFunction>(kProbeAnswerName);
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), kProbeAnswer);
}

TEST(DynamicLibrary, MissingExportNamesTheSymbolAndTheLibraryStaysUsable) {
  const std::string path = probePath();
  int unloads = 0;
  {
    const plx::DynamicLibrary library(path);
    library.getFunction<ProbeWatchUnloadFunction>(kProbeWatchUnloadName)(&unloads);
    try {
      library.getSymbol("FPCCreate");
      ADD_FAILURE() << "a missing export was found";
    } catch (const plx::LoadingLibrarySymbolException& error) {
      EXPECT_EQ(error.what(),
                "Error loading library symbol: FPCCreate" + missingSymbolReason(path, "FPCCreate"));
    }
    EXPECT_EQ(unloads, 0);
    EXPECT_EQ(library.getFunction<ProbeAnswerFunction>(kProbeAnswerName)(), kProbeAnswer);
  }
  EXPECT_EQ(unloads, 1);
}

TEST(DynamicLibrary, EachObjectFreesItsLoadExactlyOnce) {
  // Two loads of one file share one mapping with a count of two; a second
  // free by the first object would unload it under the second.
  int unloads = 0;
  auto second = std::make_unique<plx::DynamicLibrary>(probePath());
  {
    const plx::DynamicLibrary first(probePath());
    first.getFunction<ProbeWatchUnloadFunction>(kProbeWatchUnloadName)(&unloads);
  }
  EXPECT_EQ(unloads, 0);
  EXPECT_EQ(second->getFunction<ProbeAnswerFunction>(kProbeAnswerName)(), kProbeAnswer);
  second.reset();
  EXPECT_EQ(unloads, 1);
}

TEST(DynamicLibrary, MovedFromObjectFreesNothing) {
  int unloads = 0;
  auto source = std::make_unique<plx::DynamicLibrary>(probePath());
  source->getFunction<ProbeWatchUnloadFunction>(kProbeWatchUnloadName)(&unloads);
  plx::DynamicLibrary target(std::move(*source));
  source.reset();
  EXPECT_EQ(unloads, 0);

  // Assigned over, the target frees the load it held; the load it takes over
  // keeps the library mapped.
  auto other = std::make_unique<plx::DynamicLibrary>(probePath());
  target = std::move(*other);
  other.reset();
  EXPECT_EQ(unloads, 0);
  EXPECT_EQ(target.getFunction<ProbeAnswerFunction>(kProbeAnswerName)(), kProbeAnswer);
  { const plx::DynamicLibrary last = std::move(target); }
  EXPECT_EQ(unloads, 1);
}

TEST(JoinPath, PutsOneSeparatorBetweenComponents) {
  const std::string& s = kSeparator;
  EXPECT_EQ(plx::joinPath({"base", kSdkFileName}), "base" + s + kSdkFileName);
  EXPECT_EQ(plx::joinPath({"base" + s, kSdkFileName}), "base" + s + kSdkFileName);
  EXPECT_EQ(plx::joinPath({"a", "b", "c"}), "a" + s + "b" + s + "c");
  EXPECT_EQ(plx::joinPath({"", kSdkFileName}), kSdkFileName);
  EXPECT_EQ(plx::joinPath({"", "", kSdkFileName}), kSdkFileName);
  EXPECT_EQ(plx::joinPath({}), "");
  // Only what a component brings itself can double a separator.
  EXPECT_EQ(plx::joinPath({"base", s + "sdk"}), "base" + s + s + "sdk");
  // A trailing empty component leaves a trailing separator.
  EXPECT_EQ(plx::joinPath({"base", ""}), "base" + s);
  // The other platform's slash is an ordinary character.
  EXPECT_EQ(plx::joinPath({"base" + kOtherSlash, "sdk"}), "base" + kOtherSlash + s + "sdk");
}

TEST(SharedLibraryFileName, FollowsThePlatformConvention) {
  EXPECT_EQ(plx::sharedLibraryFileName("vfpcsdk"), kSdkFileName);
}

}  // namespace
