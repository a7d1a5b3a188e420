#include <sys/mman.h>

#include <gtest/gtest.h>

#include "tests/foundation/zero_pages.h"

namespace kesp::test {

ZeroPages::ZeroPages(std::size_t size) {
  // MAP_NORESERVE: nothing is charged against the commit limit either.
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) {
    ADD_FAILURE() << "cannot map " << size << " bytes";
    return;
  }
  data_ = static_cast<char*>(mapping);
  size_ = size;
}

ZeroPages::~ZeroPages() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

}  // namespace kesp::test
