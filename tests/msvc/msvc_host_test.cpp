// The plug-in as a host built with MSVC drives it. The calls are made by
// tests/msvc/msvc_session.cpp and msvc_foreign_input.cpp, compiled for the
// Microsoft ABI; this side only prepares paths, scripts the test SDK and
// reads what arrived.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kesp/kesp.h"
#include "tests/msvc/msvc_host.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/recording_log.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using Status = fp::Status;

void recordLine(void* recorder, std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                const char* text) {
  static_cast<RecordingLogInterface*>(recorder)->log(level, module, flags, text);
}

std::wstring libraryPath() {
  return std::filesystem::path(pluginPath()).wstring();
}

TEST(MsvcHost, ReadsEveryValueOfThePluginInformation) {
  RecordingLogInterface log;
  KespMsvcPluginInfo info{};
  const std::wstring path = libraryPath();
  const char* failure = kespMsvcReadPluginInfo(path.c_str(), &recordLine, &log, &info);
  ASSERT_EQ(failure, nullptr) << failure;
  EXPECT_EQ(info.pluginType, 4);
  EXPECT_EQ(info.apiMajor, 2u);
  EXPECT_EQ(info.apiMinor, 0u);
  EXPECT_STREQ(info.name, "Velnor FP Checker");
  EXPECT_EQ(info.pluginId, 4);
  EXPECT_EQ(std::vector<std::uint32_t>(info.version, info.version + 4),
            (std::vector<std::uint32_t>{2, 1, 0, 29}));
  EXPECT_EQ(log.texts(0), std::vector<std::string>{});
}

TEST(MsvcHost, RunsAWholeSessionAndRefusesItsOwnInputObjects) {
  FakeSdk& sdk = FakeSdk::instance();
  sdk.reset();
  sdk.setVerdict(true);
  RecordingLogInterface log;
  const std::wstring path = libraryPath();
  const std::string sdkDir = sdkDirectory("good");
  KespMsvcSession session{};
  session.libraryPath = path.c_str();
  session.sdkDirectory = sdkDir.c_str();
  session.filePath = "C:\\scan\\sample.bin";
  session.fileSize = 0x100000005ull;
  session.connectionTimeout = 0x1234567890ull;
  session.logLine = &recordLine;
  session.logContext = &log;
  kespMsvcRunSession(&session);
  ASSERT_EQ(session.failure, nullptr) << session.failure << " got " << session.value;

  EXPECT_EQ(session.fileVerdict, 1);
  EXPECT_EQ(session.memoryVerdict, 1);
  EXPECT_STREQ(session.fopsTrace, "create size release");
  ASSERT_EQ(sdk.configs().size(), 1u);
  const fpcsdk::FPCConfig config = sdk.configs()[0];
  EXPECT_EQ(config.connectionTimeout, 0x1234567890ull);
  EXPECT_EQ(config.cloudUrl, "https://cloud.example/msvc");
  EXPECT_EQ(config.hostDataString, "msvc host data");

  // Only the two own inputs reach the SDK, with every value the MSVC side set.
  const std::vector<fpcsdk::DetectionInput> detections = sdk.detections();
  ASSERT_EQ(detections.size(), 2u);
  const fpcsdk::DetectionInput& file = detections[0];
  EXPECT_EQ(file.filePath, "C:\\scan\\sample.bin");
  EXPECT_EQ(file.fileSize, 0x100000005ull);
  EXPECT_EQ(file.hash, "0123abcd");
  EXPECT_EQ(file.detectionName, "HEUR:Trojan.Win32.Msvc");
  EXPECT_EQ(file.customOptions.boolOptions, (std::unordered_map<std::string, bool>{{"deep", true}}));
  EXPECT_EQ(file.customOptions.intOptions,
            (std::unordered_map<std::string, std::int64_t>{{"limit", 0x123456789}}));
  EXPECT_EQ(file.customOptions.stringOptions,
            (std::unordered_map<std::string, std::string>{{"zone", "dmz"}}));
  EXPECT_EQ(file.extraData, "extra from msvc");
  EXPECT_EQ(detections[1].filePath, "");
  EXPECT_EQ(detections[1].fileSize, 4096u);
  EXPECT_EQ(detections[1].detectionName, "EICAR-Test-File");

  // Input objects made by the MSVC side, with its RTTI and without: refused
  // with the exact line, and of them only getType was called.
  const char* const kinds[] = {"file, RTTI", "memory, RTTI", "file, no RTTI", "memory, no RTTI"};
  for (int i = 0; i < kKespMsvcForeignChecks; ++i) {
    const KespMsvcForeignCheck& check = session.foreign[i];
    SCOPED_TRACE(kinds[i]);
    EXPECT_EQ(static_cast<Status>(check.status), Status::Error);
    EXPECT_EQ(check.outputHandedOut, 0);
    EXPECT_EQ(check.otherCalls, 0);
  }
  const std::string file_line = "FP checker error: Invalid input: object is not a FileInput type";
  const std::string memory_line =
      "FP checker error: Invalid input: object is not a MemoryFileInput type";
  // The per-instance option, then the inputs as the session ran them: file
  // with RTTI, file without, memory with, memory without.
  EXPECT_EQ(log.texts(0),
            (std::vector<std::string>{"No custom options are supported at the moment", file_line,
                                      file_line, memory_line, memory_line}));
  for (const LogLine& line : log.lines()) {
    EXPECT_EQ(line.module, 5u) << line.text;
  }
  EXPECT_EQ(sdk.events(),
            (std::vector<std::string>{"load", "FPCCreate", "initialize", "setProxy", "threadCleanup",
                                      "createFpcInstance", "checkDetection", "checkDetection",
                                      "destroyFpcInstance", "uninitialize", "FPCDestroy",
                                      "unload"}));
}

}  // namespace
}  // namespace kesp::test
