// Zero-filled memory that costs address space, not memory: the system backs
// a page only when it is written, and reads of untouched pages all share one
// page of zeros. It lets a test hand a converter a source of 2 GiB or 4 GiB.
#pragma once

#include <cstddef>

namespace kesp::test {

class ZeroPages {
 public:
  // Fails the current test (data() is then null) when the address space
  // cannot be had.
  explicit ZeroPages(std::size_t size);
  ~ZeroPages();
  ZeroPages(const ZeroPages&) = delete;
  ZeroPages& operator=(const ZeroPages&) = delete;

  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kesp::test
