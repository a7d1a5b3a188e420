// Host objects that the plug-in calls: the plug-in input and the host log.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kesp {

// Log levels as the host sees them.
enum HostLogLevel : std::uint32_t {
  HostLogError = 0,
  HostLogWarning = 1,
  HostLogInfo = 2,
  HostLogDebug = 3,
};

// Bit 0 of the flags of a log call: the text was cut to the maximum message
// size of the plug-in, 16383 bytes, or up to 3 bytes less, so that the cut
// never splits a UTF-8 character.
inline constexpr std::uint32_t kLogFlagTruncated = 1u;

// The module number of every message of the FP checker plug-in.
inline constexpr std::uint32_t kFpCheckerLogModule = 5u;

// [host imp] The host's log object. The plug-in may call it from any thread
// at the same time; it must not throw.
class HostLog {
 public:
  // Slot 0. Whether a message with these parameters would be recorded. Only
  // the low byte of the result is significant.
  virtual bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) = 0;
  // Slot 1. Records /*in*/ text, a NUL-terminated UTF-8 string valid only
  // during the call.
  virtual void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                   const char* text) = 0;

 protected:
  ~HostLog() = default;
};

// Type codes of PluginInputData.
enum PluginInputDataType : std::uint32_t {
  PluginInputDataString = 4,  // value holds a const char* to NUL-terminated text
};

// Identifiers of the plug-in input data that the plug-in reads.
enum PluginInputDataId : std::uint32_t {
  // Type 4: a non-empty text the host supplies for the checker SDK's settings.
  PluginInputHostDataString = 1001,
};

// One typed value of the plug-in input, owned by the host.
struct PluginInputData {
  std::uint32_t reserved;  // not read by the plug-in
  std::uint32_t type;      // a PluginInputDataType
  std::uint64_t value;     // read as the type says
};
static_assert(sizeof(PluginInputData) == 16);
static_assert(offsetof(PluginInputData, type) == 4);
static_assert(offsetof(PluginInputData, value) == 8);

// [host imp] The object the host passes to KESPGetPlugin. The plug-in reads
// it during that call only and keeps no pointer to it, except to the log.
class PluginInput {
 public:
  // Slot 0. The host log, or null to silence the plug-in. The log object
  // must live as long as the plug-in object.
  virtual HostLog* getLog() = 0;
  // Slot 1. The host's interface version; never called by this plug-in.
  virtual void getVersion(std::uint32_t* major, std::uint32_t* minor) = 0;
  // Slot 2. The data stored under /*in*/ id, or null when there is none.
  // The record stays owned by the host; the plug-in copies what it keeps.
  virtual const PluginInputData* getData(std::uint32_t id) = 0;

 protected:
  ~PluginInput() = default;
};

}  // namespace kesp
