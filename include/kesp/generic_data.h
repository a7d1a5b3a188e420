// Typed values that the host passes for options and custom check data, and
// the custom-data objects that turn raw host data into owned copies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kesp::plugins {

// How the 8 bytes of GenericData::value are read.
enum GenericDataType : std::uint32_t {
  GenericDataBool = 0,    // a bool in the first byte
  GenericDataInt1 = 1,    // an 8-byte number
  GenericDataInt2 = 2,    // an 8-byte number (not told apart from 1 and 3)
  GenericDataInt3 = 3,    // an 8-byte number
  GenericDataString = 4,  // a const char* to NUL-terminated UTF-8 text
  GenericDataCustom = 5,  // a pointer to raw data a CustomDataFactory understands
};

// One typed value, owned by the host. The plug-in copies what it keeps before
// the call that received it returns.
struct GenericData {
  std::uint32_t id;
  std::uint32_t type;  // a GenericDataType
  std::uint64_t value;
};
static_assert(sizeof(GenericData) == 16);
static_assert(offsetof(GenericData, type) == 4);
static_assert(offsetof(GenericData, value) == 8);

// [plug imp] An owned copy of custom data (type 5).
class CustomData {
 public:
  // Slot 0. The object's data in its pair layout; valid while the object lives.
  virtual const void* getData() const = 0;
  virtual ~CustomData() = default;
};

// [plug imp] Turns raw custom data into a CustomData that the caller owns.
class CustomDataFactory {
 public:
  // Slot 0. A new object for /*in*/ data under /*in*/ id; throws on refusal
  // (used inside the plug-in only, never across the host boundary).
  virtual CustomData* create(std::uint32_t id, const void* data) = 0;
  virtual ~CustomDataFactory() = default;
};

// Layouts of the option pairs of check inputs (custom data ids 10001 to
// 10003). The host passes a pointer to one as the value of a type 5 entry.
struct BoolPair {
  const char* key;
  bool value;
};
struct IntPair {
  const char* key;
  std::int64_t value;
};
struct StrPair {
  const char* key;
  const char* value;
};
static_assert(offsetof(BoolPair, value) == sizeof(void*));
static_assert(offsetof(IntPair, value) == 8 && sizeof(IntPair) == 16);
static_assert(offsetof(StrPair, value) == sizeof(void*));

}  // namespace kesp::plugins
