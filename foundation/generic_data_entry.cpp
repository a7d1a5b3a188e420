#include "foundation/generic_data_entry.h"

#include <cstring>
#include <string>
#include <utility>

#include "foundation/exceptions.h"

namespace kesp::plugins {

GenericDataEntry::GenericDataEntry(const GenericData& data, CustomDataFactory& factory)
    : id_(data.id), type_(data.type), factory_(&factory) {
  switch (data.type) {
    case GenericDataBool: {
      unsigned char first = 0;
      std::memcpy(&first, &data.value, 1);
      value_ = first;
      break;
    }
    case GenericDataInt1:
    case GenericDataInt2:
    case GenericDataInt3:
      value_ = data.value;
      break;
    case GenericDataString: {
      const auto* characters = reinterpret_cast<const char*>(data.value);
      if (characters == nullptr) {
        throw plx::Exception("Invalid input: custom data with id '" + std::to_string(data.id) +
                             "' is of string type but string is null");
      }
      text_ = characters;
      rebindValue();
      break;
    }
    case GenericDataCustom:
      custom_.reset(factory_->create(data.id, reinterpret_cast<const void*>(data.value)));
      rebindValue();
      break;
    default:
      throw InternalException("Unknown generic data type '" + std::to_string(data.type) + "'");
  }
}

GenericDataEntry::GenericDataEntry(GenericDataEntry&& other) noexcept
    : id_(other.id_),
      type_(other.type_),
      value_(other.value_),
      factory_(other.factory_),
      text_(std::move(other.text_)),
      custom_(std::move(other.custom_)) {
  // A short text lives inside the string object itself, so its address
  // changes with the move.
  rebindValue();
}

GenericDataEntry& GenericDataEntry::operator=(GenericDataEntry&& other) noexcept {
  if (this != &other) {
    id_ = other.id_;
    type_ = other.type_;
    value_ = other.value_;
    factory_ = other.factory_;
    text_ = std::move(other.text_);
    custom_ = std::move(other.custom_);
    rebindValue();
  }
  return *this;
}

void GenericDataEntry::rebindValue() noexcept {
  if (type_ == GenericDataString) {
    value_ = reinterpret_cast<std::uint64_t>(text_.c_str());
  } else if (type_ == GenericDataCustom) {
    value_ = custom_ ? reinterpret_cast<std::uint64_t>(custom_->getData()) : 0;
  }
}

CustomData* NonCustomDataFactory::create(std::uint32_t id, const void*) {
  throw plx::Exception("Unexpected custom type id '" + std::to_string(id) + "'");
}

}  // namespace kesp::plugins
