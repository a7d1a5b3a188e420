// Check inputs and outputs of the FP checker.
#pragma once

#include <cstdint>

#include "kesp/generic_data.h"
#include "kesp/releasable.h"
#include "kesp/status.h"

namespace kesp::plugins::fpchecker {

enum class InputType : std::uint32_t {
  File = 0,        // an InputV1 that is a FileInputV1
  MemoryFile = 1,  // an InputV1 that is a MemoryFileInputV1
};

// Ids of custom data that check inputs accept (InputV1::addCustomData).
enum CustomDataId : std::uint32_t {
  CustomDataHash = 0,           // type 4: the file's hash text
  CustomDataExtraData = 10000,  // type 4: free-form extra text
  CustomDataBoolPair = 10001,   // type 5: a BoolPair
  CustomDataIntPair = 10002,    // type 5: an IntPair
  CustomDataStrPair = 10003,    // type 5: a StrPair
};

// [plug imp] A check input, made by InstanceV1::createInput and owned by the
// host until release(). Filled from one thread at a time and not changed
// while a check reads it. Every text is copied; the host may free its own
// data as soon as a call returns. Refusals leave the input unchanged.
class InputV1 : public ReleasableObjectV1 {
 public:
  // Slot 1. The InputType of this object, as a number.
  virtual std::uint32_t getType() = 0;
  // Slot 2. Sets the detection name (non-empty UTF-8). Error when null or empty.
  virtual Status setDetectionName(const char* name) = 0;
  // Slot 3. Appends custom data (a CustomDataId with its type). Error for an
  // unknown id or data that cannot be copied; OutOfMemory when memory runs out.
  // Data of a type that does not fit its id is taken here and makes the next
  // check fail with Error.
  virtual Status addCustomData(const GenericData* data) = 0;
  // Slot 4. An opaque pointer handed to FopsFactoryV1::createFopsFile at each
  // check of a file input (whether or not its size was set).
  virtual void setFopsContext(void* context) = 0;
  // Slot 5. Sets the path (non-empty UTF-8). Error when null or empty.
  virtual Status setPath(const char* path) = 0;

 protected:
  ~InputV1() = default;
};

// [plug imp] Input for a file on disk (InputType::File). Needs a path.
class FileInputV1 : public InputV1 {
 public:
  // Slot 6. The file's size; when set, the file is not asked for it.
  virtual void setFileSize(std::uint64_t size) = 0;

 protected:
  ~FileInputV1() = default;
};

// [plug imp] Input for a buffer in memory (InputType::MemoryFile). The path
// is optional. Only the buffer's size reaches the checker SDK, never its bytes.
class MemoryFileInputV1 : public InputV1 {
 public:
  // Slot 6. Sets the buffer (not copied, never read) and its size. Error for
  // a null buffer; a size of 0 is refused when the input is checked.
  virtual Status setBuffer(const void* buffer, std::uint64_t size) = 0;

 protected:
  ~MemoryFileInputV1() = default;
};

// [plug imp] The verdict of one successful check, owned by the host until
// release().
class OutputV1 : public ReleasableObjectV1 {
 public:
  // Slot 1. True when the detection is a false positive.
  virtual bool isFalsePositive() = 0;

 protected:
  ~OutputV1() = default;
};

}  // namespace kesp::plugins::fpchecker
