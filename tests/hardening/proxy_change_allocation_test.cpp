// A proxy change while loaded reaches the checker SDK at once. Whichever
// allocation of that change fails, the configuration and the SDK still
// agree: a change reported as failed never reached the SDK, and the next
// change and the next load build on what the SDK has.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/hardening/allocation_host.h"
#include "tests/hardening/failing_allocator.h"

namespace kesp::test {
namespace {

using fp::Status;
using Pair = std::pair<std::string, std::string>;

TEST(AllocationFailure, AProxyTheSdkTookIsKept) {
  static const char kProxy[] = "proxy.example.net:3128";
  static const char kCertificate[] = "/etc/ssl/certs/scanner-ca-bundle.pem";
  bool struck = true;
  for (std::uint64_t failAt = 1; struck && !::testing::Test::HasFailure(); ++failAt) {
    SCOPED_TRACE("allocation " + std::to_string(failAt));
    allocationSdk().clear();
    LoadedChecker host;
    const kesp::plugins::GenericData proxy{2, kesp::plugins::GenericDataString, address(kProxy)};
    allocation::arm(failAt, allocation::Mode::Once);
    Status status = Status::Error;
    {
      const allocation::Injected injected;
      status = host.checker->getConfig()->setCustomOption(&proxy);
    }
    allocation::disarm();
    struck = allocation::struck();
    const bool taken = status == Status::Success;
    if (taken) {
      EXPECT_EQ(allocationSdk().proxies.back(), (Pair{kProxy, ""}));
    } else {
      EXPECT_EQ(status, Status::OutOfMemory);
      EXPECT_EQ(allocationSdk().proxies, (std::vector<Pair>{{"", ""}}))
          << "the SDK took a change reported as failed";
    }

    const kesp::plugins::GenericData certificate{3, kesp::plugins::GenericDataString,
                                                 address(kCertificate)};
    ASSERT_EQ(host.checker->getConfig()->setCustomOption(&certificate), Status::Success);
    EXPECT_EQ(allocationSdk().proxies.back(), (Pair{taken ? kProxy : "", kCertificate}));
    ASSERT_EQ(host.checker->unload(), Status::Success);
    ASSERT_EQ(host.checker->load(), Status::Success);
    EXPECT_EQ(allocationSdk().proxies.back(), (Pair{taken ? kProxy : "", kCertificate}));
  }
}

}  // namespace
}  // namespace kesp::test
