// Input objects of a host built with MSVC, handed to the plug-in's check as
// if they were the plug-in's own. Built twice: with MSVC's RTTI, where the
// word before each table points to MSVC's own type record, and without, where
// it is whatever the linker put there. KESP_MSVC_FOREIGN_ENTRY names the
// entry point of each build.
#include "kesp/kesp.h"
#include "tests/msvc/msvc_host.h"

namespace {

namespace fp = kesp::plugins::fpchecker;

// What each object counts: any call but getType is a fault.
class Foreign final : public fp::FileInputV1 {
 public:
  void release() override { ++otherCalls; }
  std::uint32_t getType() override { return 0; }
  fp::Status setDetectionName(const char*) override { return other(); }
  fp::Status addCustomData(const kesp::plugins::GenericData*) override { return other(); }
  void setFopsContext(void*) override { ++otherCalls; }
  fp::Status setPath(const char*) override { return other(); }
  void setFileSize(std::uint64_t) override { ++otherCalls; }

  int otherCalls = 0;

 private:
  fp::Status other() { return ++otherCalls, fp::Status::Success; }
};

class ForeignMemory final : public fp::MemoryFileInputV1 {
 public:
  void release() override { ++otherCalls; }
  std::uint32_t getType() override { return 1; }
  fp::Status setDetectionName(const char*) override { return other(); }
  fp::Status addCustomData(const kesp::plugins::GenericData*) override { return other(); }
  void setFopsContext(void*) override { ++otherCalls; }
  fp::Status setPath(const char*) override { return other(); }
  fp::Status setBuffer(const void*, std::uint64_t) override { return other(); }

  int otherCalls = 0;

 private:
  fp::Status other() { return ++otherCalls, fp::Status::Success; }
};

// A slot value no output object has.
fp::OutputV1* const kUntouched = reinterpret_cast<fp::OutputV1*>(static_cast<uintptr_t>(0x5a5a));

template <class Input>
void check(fp::InstanceV1& instance, KespMsvcForeignCheck* result) {
  Input input;
  fp::OutputV1* output = kUntouched;
  result->status = static_cast<uint32_t>(instance.check(&input, &output));
  result->outputHandedOut = output != kUntouched;
  result->otherCalls = input.otherCalls;
}

}  // namespace

#if defined(__GXX_RTTI) || defined(_CPPRTTI)
// The table MSVC's runtime gives type_info: every type record of this unit
// points to it. Nothing reads it; the freestanding build has no runtime.
extern "C" const void* const kespMsvcTypeInfoTable[2] __asm__("??_7type_info@@6B@") = {nullptr,
                                                                                   nullptr};
#endif

extern "C" void KESP_MSVC_FOREIGN_ENTRY(void* instance, uint32_t type,
                                        KespMsvcForeignCheck* result) {
  auto& target = *static_cast<fp::InstanceV1*>(instance);
  if (type == 0) {
    check<Foreign>(target, result);
  } else {
    check<ForeignMemory>(target, result);
  }
}
