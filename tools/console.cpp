#include "tools/console.h"

#include <cstdio>

namespace fpcheck {

void Console::wipe() {
  if (progress_.empty()) return;
  // Carriage return, blanks over the old text, carriage return: works on any
  // terminal, escape sequences or not.
  std::fprintf(stderr, "\r%s\r", std::string(progress_.size(), ' ').c_str());
}

void Console::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  wipe();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  if (!progress_.empty()) std::fprintf(stderr, "%s", progress_.c_str());
  std::fflush(stderr);
}

void Console::progress(std::string_view text) {
  std::lock_guard lock(mutex_);
  wipe();
  progress_ = text;
  std::fprintf(stderr, "%s", progress_.c_str());
  std::fflush(stderr);
}

void Console::endProgress() {
  std::lock_guard lock(mutex_);
  wipe();
  progress_.clear();
  std::fflush(stderr);
}

}  // namespace fpcheck
