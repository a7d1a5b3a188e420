// The service's standard output: whole lines, flushed one by one, from any
// thread, so that a test or a script reading the pipe sees each event as it
// happens and never half of two.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace fpcloud {

class LineOutput {
 public:
  explicit LineOutput(std::FILE* file) : file_(file) {}

  void line(const std::string& text) {
    std::lock_guard lock(mutex_);
    // A reader that went away is no reason to stop serving.
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

 private:
  std::mutex mutex_;
  std::FILE* file_;
};

}  // namespace fpcloud
