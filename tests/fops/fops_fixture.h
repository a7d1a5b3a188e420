// A default factory over a recording log, in a scratch directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fops/fops_default.h"
#include "tests/support/recording_log.h"
#include "tests/support/test_paths.h"

namespace kesp::test {

// A file object that goes back to its factory.
struct FileReleaser {
  FopsFactoryV1* factory;
  void operator()(FopsFileV1* file) const { factory->releaseFopsFile(file); }
};
using FileObject = std::unique_ptr<FopsFileV1, FileReleaser>;

using Lines = std::vector<std::string>;

// The line the default operations write when function fails on path; detail
// follows the file name.
inline std::string fopsError(const std::string& function, const std::string& path,
                             const std::string& detail) {
  return "(Default FOPS) Error in '" + function + "' function (filename '" + path + "'" + detail;
}

inline std::filesystem::path nativePath(const std::string& utf8Path) {
  return std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end()));
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(nativePath(path), std::ios::binary | std::ios::trunc) << content;
}

inline std::string readFile(const std::string& path) {
  std::ifstream stream(nativePath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), {});
}

class FopsTest : public ::testing::Test {
 protected:
  // Not the values of the plug-in, so that a line with hard-wired ones shows.
  static constexpr std::uint32_t kModule = 9;
  static constexpr std::uint32_t kFlags = 6;

  void TearDown() override {
    for (const LogLine& line : sink_.lines()) {
      EXPECT_EQ(line.level, 0u) << line.text;
      EXPECT_EQ(line.module, kModule) << line.text;
      EXPECT_EQ(line.flags, kFlags) << line.text;
    }
  }

  FileObject create(const std::string& path) {
    return FileObject(factory_.createFopsFile(path.c_str(), nullptr), FileReleaser{&factory_});
  }

  // name in the scratch directory, holding "0123456789".
  std::string tenByteFile(const std::string& name = "data.bin") const {
    const std::string path = dir_.file(name);
    writeFile(path, "0123456789");
    return path;
  }

  // The size the object reports, or none when it refuses.
  static std::optional<std::uint64_t> sizeOf(FopsFileV1& file) {
    std::uint64_t size = 0;
    return file.size(&size) ? std::optional(size) : std::nullopt;
  }

  // The texts of all lines so far, in order.
  std::vector<std::string> lines() const {
    std::vector<std::string> texts;
    for (const LogLine& line : sink_.lines()) texts.push_back(line.text);
    return texts;
  }

  TempDir dir_;
  RecordingLogInterface sink_;
  plx::Logger logger_{&sink_};
  FopsFactoryDefault factory_{logger_, kModule, kFlags};
};

}  // namespace kesp::test
