// One loaded copy of the reference SDK library with its two exports, for
// tests that drive it through the SDK interface alone.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/dynamic_library.h"
#include "fpcsdk/fpcsdk.h"

namespace kesp::test {

class Sdk {
 public:
  explicit Sdk(const std::string& library)
      : module_(library),
        create_(module_.getFunction<FPCCreateFunction>(kFpcCreateName)),
        destroy_(module_.getFunction<FPCDestroyFunction>(kFpcDestroyName)) {}

  struct Destroyer {
    FPCDestroyFunction destroy;
    void operator()(fpcsdk::FPC* fpc) const { destroy(fpc); }
  };
  using FpcPtr = std::unique_ptr<fpcsdk::FPC, Destroyer>;

  FpcPtr create(fpcsdk::LogInterface* log) {
    fpcsdk::FPC* fpc = nullptr;
    EXPECT_EQ(create_(log, &fpc), 0);
    EXPECT_NE(fpc, nullptr);
    return FpcPtr(fpc, Destroyer{destroy_});
  }
  FPCCreateFunction createFunction() const { return create_; }

 private:
  plx::DynamicLibrary module_;
  FPCCreateFunction create_;
  FPCDestroyFunction destroy_;
};

}  // namespace kesp::test
