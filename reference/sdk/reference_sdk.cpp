// The exports of the reference checker SDK library.
#include <cstdint>
#include <new>
#include <type_traits>

#include "reference/sdk/reference_fpc.h"
#include "fpcsdk/codes.h"
#include "fpcsdk/fpcsdk.h"

#if defined(_WIN32)
#define VFPCSDK_EXPORT extern "C" __declspec(dllexport)
#else
#define VFPCSDK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VFPCSDK_EXPORT std::int32_t FPCCreate(fpcsdk::LogInterface* log, fpcsdk::FPC** fpc) {
  if (fpc == nullptr) return vfpcsdk::InvalidParameters;
  try {
    *fpc = new vfpcsdk::ReferenceFpc(log);
    return vfpcsdk::Ok;
  } catch (const std::bad_alloc&) {
    return vfpcsdk::OutOfMemory;
  } catch (...) {
    return vfpcsdk::CloudError;
  }
}

VFPCSDK_EXPORT void FPCDestroy(fpcsdk::FPC* fpc) {
  // Every FPC this library hands out is a ReferenceFpc; the interface has no
  // destructor slot, so the object ends here and nowhere else.
  delete static_cast<vfpcsdk::ReferenceFpc*>(fpc);
}

// The exports must keep the types the plug-in resolves them to.
static_assert(std::is_same_v<decltype(&FPCCreate), FPCCreateFunction>);
static_assert(std::is_same_v<decltype(&FPCDestroy), FPCDestroyFunction>);
