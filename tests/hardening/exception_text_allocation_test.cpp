// The text of an exception is composed on the first what(), when memory may
// be short: it is then either complete or the bare detail, never half made.
#include <gtest/gtest.h>

#include <string>

#include "foundation/exceptions.h"
#include "tests/hardening/failing_allocator.h"

namespace kesp::test {
namespace {

TEST(AllocationFailure, AnExceptionTextIsWholeOrTheBareDetail) {
  // Of a length at which composing in place takes two allocations.
  const std::string detail = "missing 'FPCDestroy'";
  const std::string whole = "Error loading library symbol: " + detail;
  bool struck = true;
  for (std::uint64_t failAt = 1; struck && !::testing::Test::HasFailure(); ++failAt) {
    SCOPED_TRACE("allocation " + std::to_string(failAt));
    const plx::LoadingLibrarySymbolException error(detail);
    allocation::arm(failAt, allocation::Mode::Once);
    const char* text = nullptr;
    {
      const allocation::Injected injected;
      text = error.what();
    }
    allocation::disarm();
    struck = allocation::struck();
    EXPECT_EQ(std::string(text), struck ? detail : whole);
    // Once memory suffices again, the text is as it should have been.
    EXPECT_EQ(std::string(error.what()), whole);
  }
}

}  // namespace
}  // namespace kesp::test
