// How a test program scripts the test checker SDK and reads what it received.
// The test SDK finds the control object through an export of the test
// program itself, so the plug-in loads the SDK exactly as it would load a
// customer's, and the test still sees every call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fpcsdk/fpcsdk.h"

namespace kesp::test {

enum class SdkOp : int {
  Create,           // FPCCreate
  Initialize,
  SetProxy,
  CreateInstance,
  DestroyInstance,
  Uninitialize,
  CheckDetection,
  Destroy,          // FPCDestroy: only the throwing results apply
  Count,
};

// Implemented by the test program; every call may come from any thread.
// Only plain pointers and the SDK's own records cross, never ownership.
class TestSdkControl {
 public:
  // The code the SDK operation returns this time.
  virtual std::int32_t resultOf(SdkOp op) = 0;
  // The verdict a successful checkDetection writes; none: it writes nothing.
  virtual std::optional<bool> verdict() = 0;
  // A line the SDK writes through the log interface it was given when the
  // library is unloaded, after FPCDestroy has returned (work its static
  // destructors do); null for none.
  virtual const char* lineAtUnload() = 0;
  // One event, in call order: "load", "FPCCreate", "initialize", "setProxy",
  // "createFpcInstance", "destroyFpcInstance", "checkDetection",
  // "uninitialize", "threadCleanup", "FPCDestroy", "unload".
  virtual void onEvent(const char* event) = 0;
  virtual void onCreate(fpcsdk::LogInterface* log) = 0;
  virtual void onInitialize(const fpcsdk::FPCConfig& config) = 0;
  virtual void onSetProxy(const std::string& proxy, const std::string& certificatePath) = 0;
  // May block until the test lets the check go on.
  virtual void onCheck(const fpcsdk::DetectionInput& input) = 0;

 protected:
  ~TestSdkControl() = default;
};

// Results that make the operation throw instead of returning a code: a
// standard exception with the text "test SDK failure", or an int.
inline constexpr std::int32_t kThrowStandardException = -2147483647 - 1;
inline constexpr std::int32_t kThrowUnknownException = -2147483647;

// For Create and CreateInstance: the operation answers 0 but makes nothing.
inline constexpr std::int32_t kSucceedWithoutObject = -2147483646;

using TestSdkControlFunction = TestSdkControl* (*)();
inline constexpr char kTestSdkControlExport[] = "kespTestSdkControl";

}  // namespace kesp::test
