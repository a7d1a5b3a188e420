#include "foundation/dynamic_library.h"

#include "foundation/exceptions.h"

namespace plx {

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
