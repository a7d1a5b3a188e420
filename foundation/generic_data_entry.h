// The plug-in's owning copy of one host GenericData value, used for the
// checker's options and for the custom data of check inputs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kesp/generic_data.h"

namespace kesp::plugins {

// Movable, not copyable. For text (type 4) the value points at the entry's
// own copy of the text; for custom data (type 5) it is what getData() of the
// entry's own CustomData object returns. Both stay true across moves, which
// happen whenever a list of entries grows.
class GenericDataEntry {
 public:
  // Copies data; type 5 goes through factory (borrowed, must outlive the
  // entry). Throws plx::Exception for null text, kesp::InternalException for
  // an unknown type, and whatever factory.create throws.
  GenericDataEntry(const GenericData& data, CustomDataFactory& factory);

  GenericDataEntry(GenericDataEntry&& other) noexcept;
  GenericDataEntry& operator=(GenericDataEntry&& other) noexcept;
  GenericDataEntry(const GenericDataEntry&) = delete;
  GenericDataEntry& operator=(const GenericDataEntry&) = delete;
  ~GenericDataEntry() = default;

  std::uint32_t id() const noexcept { return id_; }
  std::uint32_t type() const noexcept { return type_; }
  std::uint64_t value() const noexcept { return value_; }
  // The value read as a pointer (text or custom data layout); may be null.
  const void* pointer() const noexcept { return reinterpret_cast<const void*>(value_); }
  // The value read as text; a null pointer reads as empty text.
  const char* text() const noexcept {
    const auto* characters = static_cast<const char*>(pointer());
    return characters != nullptr ? characters : "";
  }

 private:
  void rebindValue() noexcept;

  std::uint32_t id_ = 0;
  std::uint32_t type_ = 0;
  std::uint64_t value_ = 0;
  CustomDataFactory* factory_;
  std::string text_;
  std::unique_ptr<CustomData> custom_;
};

// The custom-data factory of the checker's configuration: options never
// carry custom data, so it refuses every value.
class NonCustomDataFactory final : public CustomDataFactory {
 public:
  // Always throws plx::Exception.
  CustomData* create(std::uint32_t id, const void* data) override;
};

}  // namespace kesp::plugins
