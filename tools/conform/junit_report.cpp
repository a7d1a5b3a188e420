#include "tools/conform/junit_report.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace conform {

namespace {

// Text for an XML attribute or element: printable UTF-8 (XML 1.0 allows few
// control characters), line ends kept where lines are, the five special
// characters escaped.
std::string xml(const std::string& text, bool lines = false) {
  std::string shown;
  std::size_t start = 0;
  for (std::size_t end = 0; lines && (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    shown += printable(std::string_view(text).substr(start, end - start), 65536) + "\n";
  }
  shown += printable(std::string_view(text).substr(start), 65536);
  std::string escaped;
  for (const char c : shown) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

void writeJunit(const std::string& file, const std::vector<ClauseRecord>& records) {
  std::size_t failures = 0;
  std::size_t skipped = 0;
  double seconds = 0;
  for (const ClauseRecord& record : records) {
    failures += record.result.verdict == Verdict::Fail;
    skipped += record.result.verdict == Verdict::Skip;
    seconds += record.seconds;
  }
  std::ofstream out(std::filesystem::path(std::u8string(file.begin(), file.end())),
                    std::ios::binary);
  if (!out) throw std::runtime_error("cannot write --junit " + file);
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", seconds);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<testsuite name=\"fpcsdk-conform\" tests=\"" << records.size() << "\" failures=\""
      << failures << "\" errors=\"0\" skipped=\"" << skipped << "\" time=\"" << time << "\">\n";
  for (const ClauseRecord& record : records) {
    std::snprintf(time, sizeof time, "%.3f", record.seconds);
    out << "  <testcase classname=\"fpcsdk-conform\" name=\"" << xml(record.id) << "\" time=\""
        << time << "\">\n";
    if (record.result.verdict == Verdict::Fail) {
      out << "    <failure message=\"" << xml(record.result.reason) << "\"/>\n";
    } else if (record.result.verdict == Verdict::Skip) {
      out << "    <skipped message=\"" << xml(record.result.reason) << "\"/>\n";
    }
    if (!record.out.empty()) out << "    <system-out>" << xml(record.out, true) << "</system-out>\n";
    if (!record.err.empty()) out << "    <system-err>" << xml(record.err, true) << "</system-err>\n";
    out << "  </testcase>\n";
  }
  out << "</testsuite>\n";
  if (!out.flush()) throw std::runtime_error("cannot write --junit " + file);
}

}  // namespace conform
