#include <windows.h>

#include <gtest/gtest.h>

#include "tests/foundation/zero_pages.h"

namespace kesp::test {

ZeroPages::ZeroPages(std::size_t size) {
  // Committed pages are still only backed when first touched.
  void* region = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (region == nullptr) {
    ADD_FAILURE() << "cannot reserve " << size << " bytes, error " << ::GetLastError();
    return;
  }
  data_ = static_cast<char*>(region);
  size_ = size;
}

ZeroPages::~ZeroPages() {
  if (data_ != nullptr) ::VirtualFree(data_, 0, MEM_RELEASE);
}

}  // namespace kesp::test
