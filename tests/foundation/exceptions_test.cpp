#include "foundation/exceptions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "foundation/system_error.h"

namespace {

// The what() text of the exception that numericCast(value) throws.
std::string badCastText(std::int64_t value) {
  try {
    plx::numericCast(value);
  } catch (const plx::BadCastException& error) {
    return error.what();
  }
  ADD_FAILURE() << "numericCast(" << value << ") did not throw";
  return {};
}

TEST(Exception, WhatPutsTheDescriptionInFrontOnce) {
  const kesp::InternalException error("VFPC object is null - cannot create an VFPC instance");
  const std::string expected =
      "Internal error: VFPC object is null - cannot create an VFPC instance";
  EXPECT_EQ(error.what(), expected);
  EXPECT_EQ(error.what(), expected);
  // A copy made after the first what() holds the composed text already.
  const kesp::InternalException copy = error;
  EXPECT_EQ(copy.what(), expected);
  // And one made before it composes its own, once.
  const plx::LoadingLibraryException fresh("C:\\sdk\\vfpcsdk.dll");
  const plx::LoadingLibraryException earlyCopy = fresh;
  EXPECT_STREQ(earlyCopy.what(), "Error loading library: C:\\sdk\\vfpcsdk.dll");
  EXPECT_STREQ(fresh.what(), "Error loading library: C:\\sdk\\vfpcsdk.dll");
}

TEST(Exception, EachKindNamesItselfThroughTheStandardBase) {
  // Caught as the standard exception, as the host boundary catches them.
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[] { throw plx::Exception("plain"); }, "Exception: plain"},
      {[] { throw kesp::InternalException("broken"); }, "Internal error: broken"},
      {[] { throw plx::BadCastException("too big"); }, "Bad cast: too big"},
      {[] { throw plx::ConversionStringException("bad bytes"); },
       "Error converting string encoding: bad bytes"},
      {[] { throw plx::LoadingLibraryException("sdk.dll"); }, "Error loading library: sdk.dll"},
      {[] { throw plx::LoadingLibrarySymbolException("FPCCreate"); },
       "Error loading library symbol: FPCCreate"},
  };
  for (const auto& [raise, expected] : cases) {
    try {
      raise();
      ADD_FAILURE() << "nothing thrown for " << expected;
    } catch (const std::exception& error) {
      EXPECT_EQ(error.what(), expected);
    }
  }
}

TEST(Exception, MessageThatContainsTheDescriptionIsLeftAsItIs) {
  EXPECT_STREQ(plx::Exception("Unexpected Exception while reading").what(),
               "Unexpected Exception while reading");
  EXPECT_STREQ(plx::LoadingLibraryException("retry after Error loading library").what(),
               "retry after Error loading library");
  // The search is case-sensitive.
  EXPECT_STREQ(plx::Exception("exception in lower case").what(),
               "Exception: exception in lower case");
}

TEST(Exception, EmptyMessageGivesTheDescriptionAndSeparatorOnly) {
  EXPECT_STREQ(plx::Exception("").what(), "Exception: ");
  EXPECT_STREQ(plx::LoadingLibrarySymbolException("").what(), "Error loading library symbol: ");
}

TEST(ErrorCodeException, DescriptionNamesTheModule) {
  const std::vector<std::pair<std::int32_t, std::string>> modules = {
      {0, "Plugin error"},
      {1, "Local scanner error"},
      {2, "Cloud scanner error"},
      {3, "URL checker error"},
      {4, "FP checker error"},
      {5, "Error in unknown module"},
      {9, "Error in unknown module"},
      {-1, "Error in unknown module"},
  };
  for (const auto& [module, description] : modules) {
    const kesp::ErrorCodeException error(module, "detail", 1);
    EXPECT_EQ(error.what(), description + ": detail") << "module " << module;
  }
}

TEST(ErrorCodeException, CopyKeepsModuleAndCode) {
  const std::string message = "Fops file object cannot be created for file: C:\\scan\\a.bin";
  const kesp::ErrorCodeException error(kesp::ErrorModuleFpChecker, message, 2);
  const kesp::ErrorCodeException copy = error;
  EXPECT_EQ(copy.what(), "FP checker error: " + message);
  EXPECT_EQ(copy.getModule(), 4);
  EXPECT_EQ(copy.getErrorCode(), 2);
}

TEST(NumericCast, ValuesOutsideUnsignedThirtyTwoBitsThrow) {
  EXPECT_EQ(badCastText(-1), "Bad cast: Cannot cast the negative value '-1' to an unsigned type");
  EXPECT_EQ(badCastText(std::numeric_limits<std::int64_t>::min()),
            "Bad cast: Cannot cast the negative value '-9223372036854775808' to an unsigned type");
  EXPECT_EQ(badCastText(4294967296),
            "Bad cast: Cannot cast the value '4294967296' to the type holding maximum "
            "'4294967295'");
  EXPECT_EQ(badCastText(std::numeric_limits<std::int64_t>::max()),
            "Bad cast: Cannot cast the value '9223372036854775807' to the type holding maximum "
            "'4294967295'");
}

TEST(NumericCast, BoundaryValuesPassUnchanged) {
  EXPECT_EQ(plx::numericCast(0), 0u);
  EXPECT_EQ(plx::numericCast(4294967295), 4294967295u);
}

TEST(AppendSystemErrorCode, AppendsTheLastErrorUnlessItIsZero) {
  std::string message = "C:\\sdk\\vfpcsdk.dll";
  plx::setLastSystemError(0);
  plx::appendSystemErrorCode(message);
  EXPECT_EQ(message, "C:\\sdk\\vfpcsdk.dll");

  plx::setLastSystemError(126);
  plx::appendSystemErrorCode(message);
  EXPECT_EQ(message, "C:\\sdk\\vfpcsdk.dll. System error code: 126");

  // Written unsigned, as the system defines the value.
  std::string name = "FPCCreate";
  plx::setLastSystemError(0xFFFFFFFFu);
  plx::appendSystemErrorCode(name);
  EXPECT_EQ(name, "FPCCreate. System error code: 4294967295");
}

TEST(Exception, ConstructionKeepsTheLastSystemError) {
  // Code raises these right after a failing system call; the catcher must
  // still see that call's error value.
  constexpr std::uint32_t kFailingCallError = 1450;
  const std::string detail(200, 'd');  // long enough to need memory of its own
  const std::vector<std::pair<const char*, std::function<void()>>> constructions = {
      {"Exception", [&] { plx::Exception error(detail); }},
      {"InternalException", [&] { kesp::InternalException error(detail); }},
      {"ErrorCodeException", [&] { kesp::ErrorCodeException error(4, detail, 2); }},
      {"BadCastException", [&] { plx::BadCastException error(detail); }},
      {"ConversionStringException", [&] { plx::ConversionStringException error(detail); }},
      {"LoadingLibraryException", [&] { plx::LoadingLibraryException error(detail); }},
      {"LoadingLibrarySymbolException", [&] { plx::LoadingLibrarySymbolException error(detail); }},
  };
  for (const auto& [kind, construct] : constructions) {
    plx::setLastSystemError(kFailingCallError);
    construct();
    EXPECT_EQ(plx::lastSystemError(), kFailingCallError) << kind;
  }
}

}  // namespace
