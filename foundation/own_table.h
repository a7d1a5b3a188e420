// Telling the plug-in's own objects apart from objects a host made, when a
// host hands either back through an interface pointer.
#pragma once

#include <cstring>
#include <type_traits>

namespace plx {

// The first pointer-sized word of an object: the pointer to its table of
// virtual operations under every ABI the interfaces are used with (single
// inheritance, no virtual bases, so the interface sits at the start). It is
// the one thing that may be read from an object of unknown origin: typeid or
// dynamic_cast would follow the word before the table, which another compiler
// fills with its own type information, or leaves null without it.
inline const void* tablePointerOf(const void* object) noexcept {
  const void* table = nullptr;
  std::memcpy(&table, object, sizeof table);
  return table;
}

// The table of the final class Own, taken from a sample object. An object
// whose table pointer is this one is an Own: only Own's constructor puts it
// there, and Own being final, no derived class can share it.
template <class Own>
class OwnTable {
  static_assert(std::is_final_v<Own> && std::is_polymorphic_v<Own>);

 public:
  explicit OwnTable(const Own& sample) noexcept : table_(tablePointerOf(&sample)) {}

  // Whether object (any base pointer of a polymorphic object, not null) is an
  // Own; reads nothing but its table pointer.
  bool holds(const void* object) const noexcept { return tablePointerOf(object) == table_; }

 private:
  const void* table_;
};

}  // namespace plx
