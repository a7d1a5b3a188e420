// A host thread may change its own record while the plug-in reads it. The
// plug-in copies the record once and works on the copy, so a change made in
// the middle of the call (here at the call's first allocation) cannot slip a
// value past a check.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/hardening/allocation_host.h"
#include "tests/hardening/failing_allocator.h"

namespace kesp::test {
namespace {

using fp::Status;
using kesp::plugins::GenericData;

// Runs call with record changed by change at the call's first allocation.
template <class Call>
Status callWhileTheHostChanges(GenericData& record, void (*change)(void*), Call call) {
  allocation::arm(0, allocation::Mode::Once);
  allocation::actAt(1, change, &record);
  Status status = Status::Error;
  {
    const allocation::Injected injected;
    status = call();
  }
  allocation::disarm();
  return status;
}

TEST(HostRecord, AddCustomDataKeepsTheIdItChecked) {
  static const char kHash[] = "0123456789abcdef0123456789abcdef";
  LoadedChecker host;
  fp::InstanceV1* made = nullptr;
  ASSERT_EQ(host.checker->createInstance(&made), Status::Success);
  HostPtr<fp::InstanceV1> instance(made);
  HostPtr<fp::MemoryFileInputV1> input(
      static_cast<fp::MemoryFileInputV1*>(instance->createInput(1)));
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(input->setDetectionName("EICAR"), Status::Success);
  ASSERT_EQ(input->setBuffer(kHash, 1), Status::Success);

  GenericData hash{fp::CustomDataHash, kesp::plugins::GenericDataString,
                   address(kHash)};
  const Status added = callWhileTheHostChanges(
      hash, [](void* record) { static_cast<GenericData*>(record)->id = 77; },
      [&] { return input->addCustomData(&hash); });
  EXPECT_EQ(added, Status::Success);

  allocationSdk().clear();
  fp::OutputV1* output = nullptr;
  EXPECT_EQ(instance->check(input.get(), &output), Status::Success);
  HostPtr<fp::OutputV1> kept(output);
  ASSERT_EQ(allocationSdk().detections.size(), 1u);
  EXPECT_EQ(allocationSdk().detections[0].hash, kHash);
  EXPECT_EQ(host.log.take(), std::vector<std::string>{});
}

TEST(HostRecord, AProxyChangeKeepsTheTypeItChecked) {
  static const char kProxy[] = "proxy.example.net:3128";
  LoadedChecker host;
  allocationSdk().clear();
  GenericData proxy{2, kesp::plugins::GenericDataString, address(kProxy)};
  const Status status = callWhileTheHostChanges(
      proxy,
      [](void* record) {
        static_cast<GenericData*>(record)->type = kesp::plugins::GenericDataInt1;
      },
      [&] { return host.checker->getConfig()->setCustomOption(&proxy); });
  EXPECT_EQ(status, Status::Success);
  // The value was taken as text, so it reached the SDK as text.
  EXPECT_EQ(allocationSdk().proxies,
            (std::vector<std::pair<std::string, std::string>>{{kProxy, ""}}));
}

}  // namespace
}  // namespace kesp::test
