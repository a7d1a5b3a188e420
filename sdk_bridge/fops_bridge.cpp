#include "sdk_bridge/fops_bridge.h"

#include <string>

#include "foundation/exceptions.h"
#include "kesp/status.h"
#include "sdk_bridge/check_input.h"

namespace kesp::plugins::fpchecker {

void FopsFactoryHolder::installOwned(std::unique_ptr<FopsFactoryV1> factory) noexcept {
  // The previous factory is disposed of by its own rule, here and now.
  factory_ = std::unique_ptr<FopsFactoryV1, Disposal>(factory.release(), &destroy);
}

void FopsFactoryHolder::installBorrowed(FopsFactoryV1* factory) noexcept {
  factory_ = std::unique_ptr<FopsFactoryV1, Disposal>(factory, &leaveAlone);
}

void FopsFactoryHolder::destroy(FopsFactoryV1* factory) noexcept {
  std::default_delete<FopsFactoryV1>()(factory);
}

namespace {

[[noreturn]] void fail(Status status, const std::string& message) {
  throw ErrorCodeException(ErrorModuleFpChecker, message, static_cast<std::int32_t>(status));
}

// Releases a file object through the factory that made it.
class FopsFileReleaser {
 public:
  explicit FopsFileReleaser(FopsFactoryV1& factory) noexcept : factory_(&factory) {}
  void operator()(FopsFileV1* file) const noexcept {
    try {
      factory_->releaseFopsFile(file);
    } catch (...) {
      // A host factory that throws must not take the check down with it.
    }
  }

 private:
  FopsFactoryV1* factory_;
};

}  // namespace

std::uint64_t fileSizeThroughFops(FopsFactoryV1* factory, const VfpcSdkFileInput& input) {
  const std::string& path = input.fields().path();
  if (factory == nullptr) {
    fail(Status::Error, "No file operations factory is installed to get the size of " + path);
  }
  const std::unique_ptr<FopsFileV1, FopsFileReleaser> file(
      factory->createFopsFile(path.c_str(), input.fields().fopsContext()),
      FopsFileReleaser(*factory));
  if (!file) fail(Status::OutOfMemory, "Fops file object cannot be created for file: " + path);
  if (input.fileSizeSet()) return input.fileSize();
  std::uint64_t size = 0;
  if (!file->size(&size)) fail(Status::Error, "Failed to get the size of " + path);
  return size;
}

}  // namespace kesp::plugins::fpchecker
