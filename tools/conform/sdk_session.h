// The SDK library driven directly, as the plug-in drives it, with every call
// watched: each is named in the clause's report before it starts, timed, and
// its code and any exception recorded.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/dynamic_library.h"
#include "fpcsdk/fpcsdk.h"
#include "tools/conform/clause_report.h"
#include "tools/conform/settings.h"

namespace conform {

// The log interface the kit hands the SDK: wants every line, records each,
// and records every call that comes after FPCDestroy has returned. One for
// the process, never destroyed: an SDK may call it at any time.
class KitLog final : public fpcsdk::LogInterface {
 public:
  static KitLog& instance();

  bool filter(std::int32_t level) override;
  void log(std::int32_t level, std::int32_t context, const std::string& message) override;

  // Calls after close() are late, until the next open().
  void open();
  void close();

  struct Line {
    std::int32_t level;
    std::string text;
  };
  std::vector<Line> lines() const;
  // "log(2, "text")" or "filter(3)", in the order they came.
  std::vector<std::string> lateCalls() const;

 private:
  KitLog() = default;
  mutable std::mutex mutex_;
  bool closed_ = false;
  std::vector<Line> lines_;
  std::vector<std::string> late_;
};

// What a check gave. code is none when checkDetection threw.
struct Answer {
  std::optional<std::int32_t> code;
  bool verdict = false;      // read when code is 0 and the byte is 0 or 1
  unsigned char byte = 0;    // the verdict's byte after the call
};
// Whether two answers are the same: the same code, and on 0 the same verdict.
bool sameAnswer(const Answer& a, const Answer& b);
// "0 (ok), true", "11 (connection error)", "an exception".
std::string describe(const Answer& answer);
// "4 (out of memory)", "13 (no code of the interface)".
std::string describeCode(std::int32_t code);
// "gave 4 (out of memory)", or "threw an exception: <its text>" for the last
// call that threw on this thread.
std::string gave(const std::optional<std::int32_t>& code);

class SdkSession {
 public:
  SdkSession(const Settings& settings, ClauseReport& report);
  // Leaves the library loaded unless freeLibrary() freed it: only the
  // clauses about unloading free it, so that a library that cannot survive
  // being freed (a thread of its own still in its code) fails those alone.
  ~SdkSession();
  SdkSession(const SdkSession&) = delete;
  SdkSession& operator=(const SdkSession&) = delete;

  // The library, and its two exports: a missing one skips the clause (the
  // exports clause names it).
  void loadLibrary();
  // An address inside the library, to ask afterwards whether it is gone.
  const void* libraryAddress() const;
  void freeLibrary();

  // FPCCreate with the kit's log interface or none; anything but 0 and an
  // object fails the clause. destroy() is FPCDestroy, then the kit's log
  // counts further calls as late.
  void create(bool withLog = true);
  void destroy();

  // With the session's settings, which it keeps (only the config-lifetime
  // clause lets them go right after the call), or with the given ones.
  std::optional<std::int32_t> initialize();
  std::optional<std::int32_t> initialize(const fpcsdk::FPCConfig& config);
  std::optional<std::int32_t> setProxy(const std::string& proxy, const std::string& certificate);
  std::optional<std::int32_t> uninitialize();
  std::optional<std::int32_t> threadCleanup();
  // *instance is null before the call.
  std::optional<std::int32_t> createInstance(fpcsdk::FPCInstance*& instance);
  std::optional<std::int32_t> destroyInstance(fpcsdk::FPCInstance* instance);
  // The verdict's byte holds poison before the call.
  Answer check(fpcsdk::FPCInstance& instance, const Case& entry, unsigned char poison = 0);
  Answer check(fpcsdk::FPCInstance& instance, const fpcsdk::DetectionInput& input,
               unsigned char poison = 0);

  // The plug-in's load: initialize with the options, then setProxy with
  // them; each must give 0. And its unload: uninitialize (0), FPCDestroy.
  // setProxy gets texts the session keeps.
  void start();
  void stop();
  // An instance, or a failed clause.
  fpcsdk::FPCInstance* newInstance();
  void endInstance(fpcsdk::FPCInstance* instance);
  // Fails the clause unless code is wanted.
  static void require(const std::optional<std::int32_t>& code, std::int32_t wanted,
                      std::string_view call);

  // What the calls so far broke, in order: codes outside 0 to 12, exceptions,
  // calls over the time budget (initialize, checks, uninitialize).
  std::vector<std::string> badCodes() const;
  std::vector<std::string> exceptions() const;
  std::vector<std::string> slowCalls() const;

  const Settings& settings() const { return settings_; }

 private:
  template <class Body>
  std::optional<std::int32_t> call(const char* name, bool timed, Body&& body);
  void note(std::vector<std::string>& list, std::string text);

  const Settings& settings_;
  ClauseReport& report_;
  std::chrono::milliseconds budget_;
  const fpcsdk::FPCConfig config_;
  std::unique_ptr<plx::DynamicLibrary> library_;
  FPCCreateFunction create_ = nullptr;
  FPCDestroyFunction destroy_ = nullptr;
  fpcsdk::FPC* fpc_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::string> badCodes_;
  std::vector<std::string> exceptions_;
  std::vector<std::string> slowCalls_;
};

}  // namespace conform
