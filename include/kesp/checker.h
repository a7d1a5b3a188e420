// The FP checker, its global configuration, its instances and their options.
#pragma once

#include <cstdint>

#include "kesp/fops.h"
#include "kesp/generic_data.h"
#include "kesp/input.h"
#include "kesp/releasable.h"
#include "kesp/status.h"

namespace kesp::plugins::fpchecker {

// Ids of the global custom options (GlobalConfigV1::setCustomOption).
enum GlobalOptionId : std::uint32_t {
  OptionCloudUrl = 0,           // text; empty or absent: the default endpoint
  OptionSdkText1 = 1,           // text
  OptionProxy = 2,              // text; applied at once while loaded
  OptionCertificatePath = 3,    // text; applied at once while loaded
  OptionSdkText4 = 4,           // text
  OptionConnectionTimeout = 5,  // number, at most 2^63-1; default 5000
  OptionDataTimeout = 6,        // number, at most 2^63-1; default 5000
  OptionSdkText7 = 7,           // text
  OptionConnectionRetries = 8,  // number, at most 4294967295; default 5
};

// Commands of CheckerV1::sendCommand.
enum CommandId : std::uint32_t {
  CommandCheckConnection = 0,  // not supported
  CommandThreadCleanup = 1,    // lets the checker SDK free this thread's data
};

// A command record. Hosts may append fields; only id is read.
struct CheckerCommand {
  std::uint32_t id;  // a CommandId
};

// The checker information record; it has no fields.
struct CheckerInfo {};

// [plug imp] The checker's global configuration, part of the checker (never
// released by the host). Not to be used concurrently with itself or with
// load/unload of its checker. Values take effect at the next load, except the
// proxy and certificate path, which also reach a loaded checker SDK at once.
class GlobalConfigV1 {
 public:
  // Slot 0. The host interface version; load accepts only 2.0.
  virtual void setApiVersion(std::uint32_t major, std::uint32_t minor) = 0;
  // Slot 1. The directory that holds the checker SDK library (UTF-8).
  // Error for null or empty text; the previous value is kept.
  virtual Status setBaseDirectory(const char* directory) = 0;
  // Slot 2. Appends an option (a GlobalOptionId; text options carry type 4,
  // number options one of the number types 1 to 3); the last one set wins.
  // Error for an unknown id, a type that does not fit the id, custom data
  // (type 5) or an unknown type, or null text for ids 0, 1, 4, 7 (null text
  // for ids 2 and 3 means "none"); while loaded, ids 2 and 3 return the
  // checker SDK's refusal as its status and are then not stored.
  virtual Status setCustomOption(const GenericData* option) = 0;
  // Slot 3. Back to the initial values: API version 0.0, no base directory,
  // no options. A loaded checker stays loaded.
  virtual void reset() = 0;

 protected:
  ~GlobalConfigV1() = default;
};

// [plug imp] Per-instance options, part of the instance.
class OptionsV1 {
 public:
  // Slot 0. No per-instance option is supported: always NotSupported.
  virtual Status setCustomOption(const GenericData* option) = 0;

 protected:
  ~OptionsV1() = default;
};

// [plug imp] Runs checks; made by CheckerV1::createInstance and owned by the
// host until release(), which must not overlap another call on the instance.
// One job (check or setFops) runs at a time: a second one arriving meanwhile
// is refused with Error at once, never queued. Different instances check in
// parallel.
class InstanceV1 : public ReleasableObjectV1 {
 public:
  // Slot 1. The instance's options; valid while the instance lives.
  virtual OptionsV1* getOptions() = 0;
  // Slot 2. Uses /*in*/ factory (borrowed: it must stay usable while
  // installed) for file sizes from now on; the built-in one is gone for good.
  // A null factory makes later checks of file inputs fail with Error.
  virtual Status setFops(FopsFactoryV1* factory) = 0;
  // Slot 3. A new empty input of the given InputType, owned by the caller;
  // null for an unknown type or on failure.
  virtual InputV1* createInput(std::uint32_t type) = 0;
  // Slot 4. Checks /*in*/ input. On Success stores a new OutputV1, owned by
  // the caller, in /*out*/ *output; on failure leaves *output unchanged.
  // Returns Error for invalid input and the mapped status of a checker SDK
  // failure.
  virtual Status check(InputV1* input, OutputV1** output) = 0;

 protected:
  ~InstanceV1() = default;
};

// [plug imp] The FP checker, made by PluginV1::getChecker and owned by the
// host. Order: getConfig and configure, load, createInstance, release the
// instances, unload, release. load, unload and release must not overlap any
// other call on the same checker.
class CheckerV1 : public ReleasableObjectV1 {
 public:
  // Slot 1. The configuration; never null, valid while the checker lives.
  virtual GlobalConfigV1* getConfig() = 0;
  // Slot 2. Validates the configuration and loads the checker SDK.
  // AlreadyInitialized, NotSupported (API version), Error (configuration),
  // LoadFailed (library) or the mapped checker SDK status on failure, which
  // leaves nothing loaded.
  virtual Status load() = 0;
  // Slot 3. The information record while loaded (the same pointer each
  // time), null otherwise.
  virtual const CheckerInfo* getInfo() = 0;
  // Slot 4. Runs /*in*/ command: CheckConnection gives NotSupported,
  // ThreadCleanup needs the checker loaded, other ids give Error.
  virtual Status sendCommand(const CheckerCommand* command) = 0;
  // Slot 5. On Success stores a new instance, owned by the caller, in
  // /*out*/ *instance; on failure leaves it unchanged. NotInitialized when
  // not loaded.
  virtual Status createInstance(InstanceV1** instance) = 0;
  // Slot 6. Shuts the checker SDK down and frees it. InUse while instances
  // exist; NotInitialized when not loaded; a checker SDK refusal leaves the
  // checker loaded, and unload may be tried again.
  virtual Status unload() = 0;

 protected:
  ~CheckerV1() = default;
};

}  // namespace kesp::plugins::fpchecker
