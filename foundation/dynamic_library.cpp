#include "foundation/dynamic_library.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "foundation/exceptions.h"

namespace plx {

namespace {

// For a month, day, hour, minute or second: 0 to 99. (Built from the two
// characters rather than "0" + std::to_string, which g++ 12 at -O3 warns
// about with a false -Wrestrict.)
std::string twoDigits(long long value) {
  const char digits[] = {static_cast<char>('0' + value / 10 % 10),
                         static_cast<char>('0' + value % 10)};
  return std::string(digits, sizeof digits);
}

// "2025-03-04 05:06:07 UTC": the same text on every platform and in every
// time zone, so that two support cases compare.
std::string utcText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto second = floor<seconds>(time);
  const auto day = floor<days>(second);
  const year_month_day date(day);
  const hh_mm_ss clock(second - day);
  return std::to_string(static_cast<int>(date.year())) + "-" +
         twoDigits(static_cast<unsigned>(date.month())) + "-" +
         twoDigits(static_cast<unsigned>(date.day())) + " " + twoDigits(clock.hours().count()) +
         ":" + twoDigits(clock.minutes().count()) + ":" + twoDigits(clock.seconds().count()) +
         " UTC";
}

// ", 301056 bytes, modified 2025-03-04 05:06:07 UTC" for the file at path.
std::string sizeAndTime(const std::string& path) {
  if (path.empty()) return ", path unknown";
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return ", size unknown";
  std::string text = ", " + std::to_string(size) + " bytes";
  const std::filesystem::file_time_type written = std::filesystem::last_write_time(file, error);
  if (!error) text += ", modified " + utcText(std::chrono::file_clock::to_sys(written));
  return text;
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) {
  if (path.empty()) throw LoadingLibraryException("Library path is an empty string");
  handle_.reset(detail::openLibrary(path));
  if (!handle_) {
    std::string message = path;
    detail::describeLoadFailure(message);
    throw LoadingLibraryException(std::move(message));
  }
}

void* DynamicLibrary::getSymbol(const char* name) const {
  void* symbol = detail::findSymbol(handle_.get(), name);
  if (symbol == nullptr) {
    std::string message = name;
    detail::describeLoadFailure(message);
    throw LoadingLibrarySymbolException(std::move(message));
  }
  return symbol;
}

LibraryFile DynamicLibrary::file() const {
  LibraryFile result;
  try {
    result.path = detail::loadedFilePath(handle_.get());
  } catch (const ConversionStringException&) {
    // A module name the system gave that is not valid UTF-16: unnamed, as
    // if the system had not told it.
  }
  result.identity = detail::carriedIdentity(handle_.get(), result.path) + sizeAndTime(result.path);
  return result;
}

std::string joinPath(std::initializer_list<std::string_view> components) {
  const char separator = detail::pathSeparator();
  std::string result;
  for (const std::string_view component : components) {
    if (!result.empty() && result.back() != separator) result += separator;
    result += component;
  }
  return result;
}

std::string sharedLibraryFileName(std::string_view name) {
  std::string result = detail::sharedLibraryPrefix();
  result += name;
  result += detail::sharedLibrarySuffix();
  return result;
}

}  // namespace plx
