#include "sdk_bridge/check_input.h"

#include <memory>
#include <string>

#include "foundation/boundary.h"
#include "foundation/exceptions.h"
#include "foundation/own_table.h"
#include "foundation/plugin_log.h"

namespace kesp::plugins::fpchecker {

namespace {

[[noreturn]] void refuse(const std::string& message) {
  throw ErrorCodeException(ErrorModuleFpChecker, message, static_cast<std::int32_t>(Status::Error));
}

std::string copyKey(const char* key, const char* kind) {
  if (key == nullptr) refuse(std::string("Invalid key for ") + kind + " pair custom option");
  return key;
}

bool isInputCustomDataId(std::uint32_t id) noexcept {
  return id == CustomDataHash || id == CustomDataExtraData || id == CustomDataBoolPair ||
         id == CustomDataIntPair || id == CustomDataStrPair;
}

}  // namespace

CustomData* VfpcSdkInputCustomDataFactory::create(std::uint32_t id, const void* data) {
  if (data == nullptr) refuse("Invalid data for custom option '" + std::to_string(id) + "'");
  switch (id) {
    case CustomDataBoolPair:
      return std::make_unique<VfpcSdkBoolPair>(*static_cast<const BoolPair*>(data)).release();
    case CustomDataIntPair:
      return std::make_unique<VfpcSdkIntPair>(*static_cast<const IntPair*>(data)).release();
    case CustomDataStrPair:
      return std::make_unique<VfpcSdkStrPair>(*static_cast<const StrPair*>(data)).release();
    default:
      refuse("Unexpected id '" + std::to_string(id) + "' for custom input option");
  }
}

VfpcSdkBoolPair::VfpcSdkBoolPair(const BoolPair& pair)
    : key_(copyKey(pair.key, "bool")), pair_{key_.c_str(), pair.value} {}

VfpcSdkIntPair::VfpcSdkIntPair(const IntPair& pair)
    : key_(copyKey(pair.key, "int")), pair_{key_.c_str(), pair.value} {}

VfpcSdkStrPair::VfpcSdkStrPair(const StrPair& pair) : key_(copyKey(pair.key, "str")) {
  if (pair.value == nullptr) refuse("Invalid string value for str pair custom option");
  value_ = pair.value;
  pair_ = StrPair{key_.c_str(), value_.c_str()};
}

Status InputFields::setDetectionName(const char* name) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    if (name == nullptr || *name == '\0') {
      log_.text(plx::LogError, "Invalid input: detection name is null or empty");
      return Status::Error;
    }
    detectionName_ = name;
    return Status::Success;
  });
}

Status InputFields::setPath(const char* path) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    if (path == nullptr || *path == '\0') {
      log_.text(plx::LogError, "Invalid input: path is null or empty");
      return Status::Error;
    }
    path_ = path;
    return Status::Success;
  });
}

Status InputFields::addCustomData(const GenericData* data) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    if (data == nullptr) {
      log_.text(plx::LogError, "Invalid input: custom data is null");
      return Status::Error;
    }
    // Read once: a host thread may change its own record during the call.
    const GenericData record = *data;
    if (!isInputCustomDataId(record.id)) {
      log_.format(plx::LogError, "Invalid input: custom data id '%u' is invalid", record.id);
      return Status::Error;
    }
    customData_.emplace_back(record, factory_);
    return Status::Success;
  });
}

void VfpcSdkFileInput::release() {
  plx::callGuarded(fields_.log(), [this] {
    fields_.log().text(plx::LogDebug, "Releasing VFPC checker file input");
  });
  std::unique_ptr<VfpcSdkFileInput> self(this);
}

void VfpcSdkFileInput::setFileSize(std::uint64_t size) {
  fileSize_ = size;
  fileSizeSet_ = true;
}

void VfpcSdkMemoryFileInput::release() {
  plx::callGuarded(fields_.log(), [this] {
    fields_.log().text(plx::LogDebug, "Releasing VFPC checker memory file input");
  });
  std::unique_ptr<VfpcSdkMemoryFileInput> self(this);
}

Status VfpcSdkMemoryFileInput::setBuffer(const void* buffer, std::uint64_t size) {
  return plx::callGuarded(fields_.log(), Status::Error, Status::OutOfMemory, [&] {
    if (buffer == nullptr) {
      fields_.log().text(plx::LogError, "Invalid input: buffer is null");
      return Status::Error;
    }
    buffer_ = buffer;
    bufferSize_ = size;
    return Status::Success;
  });
}

namespace {

// A silent input built once, only to learn its class's table.
template <class Own>
plx::OwnTable<Own> ownTable() noexcept {
  const plx::Logger silent(nullptr);
  return plx::OwnTable<Own>(Own(silent));
}

}  // namespace

const VfpcSdkFileInput* ownFileInput(const InputV1& input) noexcept {
  static const plx::OwnTable<VfpcSdkFileInput> own = ownTable<VfpcSdkFileInput>();
  return own.holds(&input) ? static_cast<const VfpcSdkFileInput*>(&input) : nullptr;
}

const VfpcSdkMemoryFileInput* ownMemoryFileInput(const InputV1& input) noexcept {
  static const plx::OwnTable<VfpcSdkMemoryFileInput> own = ownTable<VfpcSdkMemoryFileInput>();
  return own.holds(&input) ? static_cast<const VfpcSdkMemoryFileInput*>(&input) : nullptr;
}

void VfpcSdkOutput::release() {
  plx::callGuarded(log_, [this] { log_.text(plx::LogDebug, "Releasing VFPC checker output"); });
  std::unique_ptr<VfpcSdkOutput> self(this);
}

}  // namespace kesp::plugins::fpchecker
