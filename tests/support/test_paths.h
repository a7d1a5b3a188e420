// Where the test programs find the libraries built beside them, and
// scratch directories of their own.
#pragma once

#include <filesystem>
#include <string>

namespace kesp::test {

// The directory of the running test program, as a UTF-8 path.
std::string executableDirectory();

// fpcloud as the tests start it: beside the test program; for the Windows
// tests under Wine, the Linux build's, named by the environment variable
// KESP_NATIVE_FPCLOUD (a program of the Linux side, see ChildSetup).
std::string fpcloudProgram();

// The UTF-8 text of a path, as the plug-in's interfaces take it, and back.
std::string utf8(const std::filesystem::path& path);
std::filesystem::path fromUtf8(const std::string& text);

// A fresh empty directory, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string utf8Path() const { return utf8(path_); }
  // A UTF-8 path for name inside the directory.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kesp::test
