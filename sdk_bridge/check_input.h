// The check inputs and outputs the host fills and reads, and the custom-data
// objects that carry their option pairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/logger.h"
#include "kesp/input.h"
#include "foundation/generic_data_entry.h"
#include "foundation/plugin_log.h"

namespace kesp::plugins::fpchecker {

// Makes the pair objects of custom data ids 10001 to 10003. Throws
// kesp::ErrorCodeException (status Error) for anything else.
class VfpcSdkInputCustomDataFactory final : public CustomDataFactory {
 public:
  CustomData* create(std::uint32_t id, const void* data) override;
};

// Each pair owns copies of its strings; its layout points at them, never into
// the host's memory. Not copyable: a copy's layout would point into the
// source's strings.
class VfpcSdkBoolPair final : public CustomData {
 public:
  explicit VfpcSdkBoolPair(const BoolPair& pair);
  VfpcSdkBoolPair(const VfpcSdkBoolPair&) = delete;
  VfpcSdkBoolPair& operator=(const VfpcSdkBoolPair&) = delete;
  const void* getData() const override { return &pair_; }

 private:
  std::string key_;
  BoolPair pair_;
};

class VfpcSdkIntPair final : public CustomData {
 public:
  explicit VfpcSdkIntPair(const IntPair& pair);
  VfpcSdkIntPair(const VfpcSdkIntPair&) = delete;
  VfpcSdkIntPair& operator=(const VfpcSdkIntPair&) = delete;
  const void* getData() const override { return &pair_; }

 private:
  std::string key_;
  IntPair pair_;
};

class VfpcSdkStrPair final : public CustomData {
 public:
  explicit VfpcSdkStrPair(const StrPair& pair);
  VfpcSdkStrPair(const VfpcSdkStrPair&) = delete;
  VfpcSdkStrPair& operator=(const VfpcSdkStrPair&) = delete;
  const void* getData() const override { return &pair_; }

 private:
  std::string key_;
  std::string value_;
  StrPair pair_;
};

// What both input kinds store. The rules that make an input complete are
// applied when it is checked.
class InputFields {
 public:
  explicit InputFields(const plx::Logger& logger) noexcept : log_(pluginLog(logger)) {}

  Status setDetectionName(const char* name);
  Status addCustomData(const GenericData* data);
  Status setPath(const char* path);

  const std::string& detectionName() const noexcept { return detectionName_; }
  const std::string& path() const noexcept { return path_; }
  void* fopsContext() const noexcept { return fopsContext_; }
  void setFopsContext(void* context) noexcept { fopsContext_ = context; }
  const std::vector<GenericDataEntry>& customData() const noexcept { return customData_; }
  const plx::LogChannel& log() const noexcept { return log_; }

 private:
  std::string detectionName_;
  void* fopsContext_ = nullptr;
  std::vector<GenericDataEntry> customData_;
  VfpcSdkInputCustomDataFactory factory_;
  std::string path_;
  plx::LogChannel log_;
};

class VfpcSdkFileInput final : public FileInputV1 {
 public:
  explicit VfpcSdkFileInput(const plx::Logger& logger) noexcept : fields_(logger) {}

  void release() override;
  std::uint32_t getType() override { return static_cast<std::uint32_t>(InputType::File); }
  Status setDetectionName(const char* name) override { return fields_.setDetectionName(name); }
  Status addCustomData(const GenericData* data) override { return fields_.addCustomData(data); }
  void setFopsContext(void* context) override { fields_.setFopsContext(context); }
  Status setPath(const char* path) override { return fields_.setPath(path); }
  void setFileSize(std::uint64_t size) override;

  const InputFields& fields() const noexcept { return fields_; }
  bool fileSizeSet() const noexcept { return fileSizeSet_; }
  std::uint64_t fileSize() const noexcept { return fileSize_; }

 private:
  InputFields fields_;
  std::uint64_t fileSize_ = 0;
  bool fileSizeSet_ = false;
};

class VfpcSdkMemoryFileInput final : public MemoryFileInputV1 {
 public:
  explicit VfpcSdkMemoryFileInput(const plx::Logger& logger) noexcept : fields_(logger) {}

  void release() override;
  std::uint32_t getType() override { return static_cast<std::uint32_t>(InputType::MemoryFile); }
  Status setDetectionName(const char* name) override { return fields_.setDetectionName(name); }
  Status addCustomData(const GenericData* data) override { return fields_.addCustomData(data); }
  void setFopsContext(void* context) override { fields_.setFopsContext(context); }
  Status setPath(const char* path) override { return fields_.setPath(path); }
  Status setBuffer(const void* buffer, std::uint64_t size) override;

  const InputFields& fields() const noexcept { return fields_; }
  const void* buffer() const noexcept { return buffer_; }
  std::uint64_t bufferSize() const noexcept { return bufferSize_; }

 private:
  InputFields fields_;
  const void* buffer_ = nullptr;
  std::uint64_t bufferSize_ = 0;
};

// The input object behind /*in*/ input when it is one of ours, else null.
// Of an object the host made nothing is read but its table pointer: its type
// information is another compiler's, if there is any.
const VfpcSdkFileInput* ownFileInput(const InputV1& input) noexcept;
const VfpcSdkMemoryFileInput* ownMemoryFileInput(const InputV1& input) noexcept;

class VfpcSdkOutput final : public OutputV1 {
 public:
  explicit VfpcSdkOutput(const plx::Logger& logger) noexcept : log_(pluginLog(logger)) {}

  void release() override;
  bool isFalsePositive() override { return result_; }

  // Where the checker SDK writes the verdict.
  bool* result() noexcept { return &result_; }

 private:
  bool result_ = false;
  plx::LogChannel log_;
};

}  // namespace kesp::plugins::fpchecker
