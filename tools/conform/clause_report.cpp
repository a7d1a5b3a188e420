#include "tools/conform/clause_report.h"

#include <cstdlib>
#include <fstream>

#include "foundation/utf8_text.h"

namespace conform {

ClauseReport::ClauseReport(const std::filesystem::path& file) {
#if defined(_WIN32)
  file_ = ::_wfopen(file.c_str(), L"wb");
#else
  file_ = std::fopen(file.c_str(), "wb");
#endif
}

ClauseReport::~ClauseReport() {
  if (file_ != nullptr) std::fclose(file_);
}

void ClauseReport::step(std::string_view what) {
  const std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::fprintf(file_, "step %s\n", printable(what).c_str());
  std::fflush(file_);
}

void ClauseReport::finish(const ClauseResult& result) {
  {
    const std::lock_guard lock(mutex_);
    if (file_ != nullptr) {
      const char* word = result.verdict == Verdict::Pass   ? "PASS"
                         : result.verdict == Verdict::Skip ? "SKIP"
                                                           : "FAIL";
      std::fprintf(file_, "result %s %s\n", word, printable(result.reason, 2000).c_str());
      std::fclose(file_);
      file_ = nullptr;
    }
  }
  std::fflush(nullptr);
  std::_Exit(0);
}

ReportRead readReport(const std::filesystem::path& file) {
  ReportRead read;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("step ", 0) == 0) {
      read.lastStep = line.substr(5);
    } else if (line.rfind("result ", 0) == 0 && line.size() >= 11) {
      ClauseResult result;
      const std::string word = line.substr(7, 4);
      result.verdict = word == "PASS" ? Verdict::Pass : word == "SKIP" ? Verdict::Skip : Verdict::Fail;
      result.reason = line.size() > 12 ? line.substr(12) : "";
      read.result = result;
    }
  }
  return read;
}

std::string printable(std::string_view text, std::size_t limit) {
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    if (shown.size() >= limit) return shown + "...";
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80 ? 1 : static_cast<std::size_t>(plx::utf8Lead(byte).count);
    const bool shownAsItIs =
        byte < 0x80 ? byte >= 0x20 && byte != 0x7F
                    : length >= 2 && i + length <= text.size() &&
                          plx::firstInvalidUtf8(text.substr(i, length)) == std::string_view::npos;
    if (shownAsItIs) {
      shown.append(text.substr(i, length));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
      length = 1;
    }
    i += length;
  }
  return shown;
}

}  // namespace conform
