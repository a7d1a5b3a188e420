// The file-operations factory an SDK instance uses to learn file sizes: its
// own default one, or one the host registers (borrowed, never destroyed).
#pragma once

#include <cstdint>
#include <memory>

#include "kesp/fops.h"

namespace kesp::plugins::fpchecker {

class VfpcSdkFileInput;

class FopsFactoryHolder {
 public:
  FopsFactoryHolder() noexcept = default;

  // Takes ownership: the factory is destroyed when it leaves the holder.
  void installOwned(std::unique_ptr<FopsFactoryV1> factory) noexcept;
  // Borrows: the factory is left alone when it leaves the holder. May be null.
  void installBorrowed(FopsFactoryV1* factory) noexcept;

  FopsFactoryV1* get() const noexcept { return factory_.get(); }

 private:
  using Disposal = void (*)(FopsFactoryV1*) noexcept;
  std::unique_ptr<FopsFactoryV1, Disposal> factory_{nullptr, &leaveAlone};

  static void destroy(FopsFactoryV1* factory) noexcept;
  static void leaveAlone(FopsFactoryV1*) noexcept {}
};

// The size of the input's file: the size the host set, or else what the file
// object reports. A file object is created through factory either way, and
// released exactly once. Throws kesp::ErrorCodeException: OutOfMemory when no
// file object can be made, Error when its size cannot be read or no factory
// is installed.
std::uint64_t fileSizeThroughFops(FopsFactoryV1* factory, const VfpcSdkFileInput& input);

}  // namespace kesp::plugins::fpchecker
