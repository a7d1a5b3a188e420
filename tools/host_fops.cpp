#include "tools/host_fops.h"

#include <filesystem>
#include <new>
#include <system_error>

namespace fpcheck {

namespace {

// Answers access and size; every operation that would touch the file's
// contents or name fails, as the plug-in never asks for one.
class HostFile final : public kesp::FopsFileV1 {
 public:
  explicit HostFile(const char* path) {
    const std::string text(path);
    path_ = std::filesystem::path(std::u8string(text.begin(), text.end()));
  }
  ~HostFile() = default;

  bool access(std::uint32_t flags) override {
    std::error_code error;
    return flags == kesp::FopsAccessExists && std::filesystem::exists(path_, error);
  }
  bool rename(const char*) override { return false; }
  bool unlink() override { return false; }
  bool open(std::uint32_t, std::uint32_t) override { return false; }
  bool read(void*, std::uint64_t, std::uint64_t*) override { return false; }
  bool write(const void*, std::uint64_t, std::uint64_t*) override { return false; }
  bool tell(std::uint64_t*) override { return false; }
  bool seek(std::int64_t, std::uint32_t) override { return false; }
  bool size(std::uint64_t* size) override {
    std::error_code error;
    // file_size refuses directories and other files that are not regular.
    const std::uintmax_t bytes = std::filesystem::file_size(path_, error);
    if (error || size == nullptr) return false;
    *size = bytes;
    return true;
  }
  bool flush() override { return false; }
  bool close() override { return true; }

 private:
  std::filesystem::path path_;
};

}  // namespace

kesp::FopsFileV1* HostFopsFactory::createFopsFile(const char* path, void*) {
  if (path == nullptr) return nullptr;
  try {
    return new HostFile(path);
  } catch (...) {
    return nullptr;  // nothing may be thrown into the plug-in
  }
}

void HostFopsFactory::releaseFopsFile(kesp::FopsFileV1* file) {
  delete static_cast<HostFile*>(file);
}

}  // namespace fpcheck
