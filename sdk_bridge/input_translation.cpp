#include "sdk_bridge/input_translation.h"

#include <string>
#include <typeinfo>

#include "foundation/exceptions.h"
#include "sdk_bridge/check_input.h"
#include "sdk_bridge/fops_bridge.h"

namespace kesp::plugins::fpchecker {

namespace {

// The one operation of a host's input object that is called before the
// object is known to be ours. The sanitizer's dynamic-type check would read
// the word before the object's table as this compiler's type information,
// which an object of another compiler does not have: not for this call.
// (The GNU spelling, which both GCC and clang accept.)
__attribute__((no_sanitize("vptr"))) std::uint32_t typeOf(InputV1& input) {
  return input.getType();
}

[[noreturn]] void invalid(const std::string& message) {
  throw ErrorCodeException(ErrorModuleFpChecker, "Invalid input: " + message,
                           static_cast<std::int32_t>(Status::Error));
}

void validateText(const GenericDataEntry& entry, const char* name) {
  if (entry.type() != GenericDataString) {
    invalid(std::string(name) + " custom data is not set as a string");
  }
  if (entry.pointer() == nullptr) invalid(std::string(name) + " custom data is null");
}

// The key is the first field of every pair layout.
template <class Pair>
const Pair* validatePair(const GenericDataEntry& entry, const char* name) {
  if (entry.type() != GenericDataCustom) {
    invalid(std::string(name) + " pair is not set as custom data");
  }
  const auto* pair = static_cast<const Pair*>(entry.pointer());
  if (pair == nullptr) invalid(std::string(name) + " pair custom data is null");
  if (pair->key == nullptr) invalid(std::string(name) + " pair key is null");
  return pair;
}

void validateCommon(const InputFields& fields) {
  if (fields.detectionName().empty()) invalid("detection name not set");
  for (const GenericDataEntry& entry : fields.customData()) {
    switch (entry.id()) {
      case CustomDataHash: validateText(entry, "hash"); break;
      case CustomDataExtraData: validateText(entry, "extra data"); break;
      case CustomDataBoolPair: validatePair<BoolPair>(entry, "bool"); break;
      case CustomDataIntPair: validatePair<IntPair>(entry, "int"); break;
      case CustomDataStrPair:
        if (validatePair<StrPair>(entry, "str")->value == nullptr) {
          invalid("str pair string value is null");
        }
        break;
      default:
        invalid("custom option id '" + std::to_string(entry.id()) + "' is unknown");
    }
  }
}

// The text of the first entry of id; empty when there is none.
std::string firstText(const InputFields& fields, std::uint32_t id) {
  for (const GenericDataEntry& entry : fields.customData()) {
    if (entry.id() == id) return entry.text();
  }
  return {};
}

void translateCommon(const InputFields& fields, fpcsdk::DetectionInput& record) {
  record.hash = firstText(fields, CustomDataHash);
  record.detectionName = fields.detectionName();
  auto& options = record.customOptions;
  // emplace leaves an existing key alone: the first pair of a key wins.
  for (const GenericDataEntry& entry : fields.customData()) {
    if (entry.pointer() == nullptr) continue;
    switch (entry.id()) {
      case CustomDataBoolPair: {
        const auto& pair = *static_cast<const BoolPair*>(entry.pointer());
        options.boolOptions.emplace(pair.key, pair.value);
        break;
      }
      case CustomDataIntPair: {
        const auto& pair = *static_cast<const IntPair*>(entry.pointer());
        options.intOptions.emplace(pair.key, pair.value);
        break;
      }
      case CustomDataStrPair: {
        const auto& pair = *static_cast<const StrPair*>(entry.pointer());
        options.stringOptions.emplace(pair.key, pair.value);
        break;
      }
      default:
        break;
    }
  }
  record.extraData = firstText(fields, CustomDataExtraData);
}

}  // namespace

void validateCheckInput(InputV1& input) {
  switch (typeOf(input)) {
    case static_cast<std::uint32_t>(InputType::MemoryFile): {
      const auto* memory = ownMemoryFileInput(input);
      if (memory == nullptr) invalid("object is not a MemoryFileInput type");
      validateCommon(memory->fields());
      if (memory->buffer() == nullptr) invalid("memory file buffer not set");
      if (memory->bufferSize() == 0) invalid("memory file buffer size not set");
      return;
    }
    case static_cast<std::uint32_t>(InputType::File): {
      const auto* file = ownFileInput(input);
      if (file == nullptr) invalid("object is not a FileInput type");
      validateCommon(file->fields());
      if (file->fields().path().empty()) invalid("file path not set");
      return;
    }
    default:
      invalid("type is invalid");
  }
}

Status translateCheckInput(InputV1& input, fpcsdk::DetectionInput& record,
                           FopsFactoryV1* factory, const plx::LogChannel& log) {
  try {
    if (const auto* file = ownFileInput(input)) {
      record.filePath = file->fields().path();
      record.fileSize = fileSizeThroughFops(factory, *file);
      translateCommon(file->fields(), record);
    } else {
      // Validation has refused every other class; were it skipped, this
      // still fails rather than read a foreign object.
      const auto* memory = ownMemoryFileInput(input);
      if (memory == nullptr) throw std::bad_cast();
      record.filePath = memory->fields().path();
      record.fileSize = memory->bufferSize();
      translateCommon(memory->fields(), record);
    }
    return Status::Success;
  } catch (const ErrorCodeException& error) {
    log.format(plx::LogError, "%s", error.what());
    return static_cast<Status>(error.getErrorCode());
  }
}

}  // namespace kesp::plugins::fpchecker
