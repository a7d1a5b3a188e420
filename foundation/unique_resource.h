// One move-only owner for every kind of system handle. A Traits type names
// the handle type, its invalid value and how to free it:
//   struct Traits {
//     using Handle = ...;
//     static Handle invalid() noexcept;
//     static void close(Handle) noexcept;
//   };
#pragma once

#include <utility>

namespace plx {

template <class Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() noexcept : handle_(Traits::invalid()) {}
  explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    // Taking the other handle first makes self-move harmless and frees the
    // handle held until now instead of leaking it.
    reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without freeing.
  Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }

  // Frees the held handle, if any, and owns handle instead.
  void reset(Handle handle = Traits::invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::invalid()) Traits::close(old);
  }

 private:
  Handle handle_;
};

}  // namespace plx
