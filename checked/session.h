// What the checked build keeps for one plug-in object: the host's log, where
// every violation is reported, and the objects the host holds, by kind.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "checked/operation.h"
#include "checked/violations.h"
#include "foundation/log_adapter.h"
#include "foundation/logger.h"
#include "kesp/host.h"

namespace kesp::checked {

class Tracked;

class Session final {
 public:
  // hostLog may be null; it is not owned.
  explicit Session(HostLog* hostLog) noexcept;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The log the real plug-in object is made with: the host's until the
  // plug-in object is released, after which the host may destroy its log
  // while objects kept alive still write (those lines are dropped).
  HostLog& pluginLog() noexcept { return pluginLog_; }

  // One violation: a level 0 line of module 5 in the host's log; once that
  // log is gone (or when there never was one), on standard error and, on
  // Windows, to the debugger.
  void report(const ViolationLine& line) const noexcept;
  // At the plug-in object's release, after its last line.
  void closeHostLog() noexcept;

  // Lists a new object and gives it the next creation number of its kind;
  // owner is the checker of an instance.
  void add(Tracked& object, const Tracked* owner) noexcept;
  void remove(Tracked& object) noexcept;

  // The instances of checker; when a job runs on one, jobRunning is set and
  // running names it.
  std::uint64_t instancesOf(const Tracked& checker, bool& jobRunning,
                            Operation& running) const noexcept;
  // Every object the host still holds but the plug-in information, which
  // does not depend on the plug-in object; when a call runs on one,
  // callRunning is set and where and running name it.
  LiveObjects liveObjects(bool& callRunning, Facet& where, Operation& running) const noexcept;

  // Something was kept alive beyond its release (its instances use it), so
  // the real plug-in object must stay too.
  void markKeptAlive() noexcept { keptAlive_.store(true); }
  bool keptAlive() const noexcept { return keptAlive_.load(); }

 private:
  class PluginLog final : public HostLog {
   public:
    explicit PluginLog(Session& session) noexcept : session_(session) {}
    bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override;
    void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
             const char* text) override;

   private:
    Session& session_;
  };

  struct List {
    Tracked* first = nullptr;
    Tracked* last = nullptr;
    std::uint64_t made = 0;
  };

  LogAdapter hostLog_;
  plx::Logger logger_;
  PluginLog pluginLog_;
  std::atomic<bool> hostLogOpen_;
  std::atomic<bool> keptAlive_{false};
  // Taken when an object is made or released, and by the scans above; never
  // held across a call into the real objects or the host.
  mutable std::mutex mutex_;
  std::array<List, kKinds> lists_{};
};

}  // namespace kesp::checked
