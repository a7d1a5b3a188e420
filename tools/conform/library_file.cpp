#include "tools/conform/library_file.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include "fpcsdk/fpcsdk.h"

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#endif

namespace conform {

namespace {

// The C++ standard libraries a library may need, by the file names they go
// by; the plug-in's own is the one this kit is built with.
struct StandardLibrary {
  const char* name;
  const char* filePrefix;  // compared without regard to case
};
constexpr StandardLibrary kStandardLibraries[] = {
    {"GCC (libstdc++)", "libstdc++"},
    {"LLVM (libc++)", "libc++"},
    {"MSVC", "msvcp"},
};
#if defined(_LIBCPP_VERSION)
constexpr const char* kOwnStandardLibrary = "libc++";
#elif defined(_MSVC_STL_VERSION)
constexpr const char* kOwnStandardLibrary = "msvcp";
#else
constexpr const char* kOwnStandardLibrary = "libstdc++";
#endif

// Bounds-checked reads from the file's bytes: a damaged or hostile file
// gives an error, never a read outside them.
class Bytes {
 public:
  explicit Bytes(std::vector<char> data) : data_(std::move(data)) {}
  std::size_t size() const { return data_.size(); }
  template <class T>
  T at(std::uint64_t offset) const {
    need(offset, sizeof(T));
    T value{};
    std::memcpy(&value, data_.data() + offset, sizeof(T));
    return value;
  }
  std::string text(std::uint64_t offset) const {
    need(offset, 1);
    const auto start = data_.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(start, data_.end(), '\0');
    if (end == data_.end()) throw std::runtime_error("a name runs past the end of the file");
    return std::string(start, end);
  }
  void need(std::uint64_t offset, std::uint64_t length) const {
    if (offset > data_.size() || length > data_.size() - offset) {
      throw std::runtime_error("the file ends before its tables do");
    }
  }

 private:
  std::vector<char> data_;
};

std::string demangled(const std::string& name) {
#if __has_include(<cxxabi.h>)
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> text(
      abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), &std::free);
  if (status == 0 && text) return text.get();
#endif
  return name;
}

// ELF64, little-endian: the dynamic symbol table and the dynamic section.
LibraryFacts readElf(const Bytes& file) {
  constexpr std::uint32_t kDynamic = 6, kDynamicSymbols = 11;
  constexpr unsigned kGlobal = 1, kWeak = 2, kGnuUnique = 10;
  constexpr std::int64_t kNeeded = 1;
  if (file.at<std::uint8_t>(4) != 2 || file.at<std::uint8_t>(5) != 1) {
    throw std::runtime_error("it is not a 64-bit little-endian ELF file");
  }
  const auto sections = file.at<std::uint64_t>(0x28);
  const auto sectionSize = file.at<std::uint16_t>(0x3A);
  const auto sectionCount = file.at<std::uint16_t>(0x3C);
  if (sectionSize < 0x40) throw std::runtime_error("its section table is damaged");
  const auto section = [&](std::uint32_t index) { return sections + std::uint64_t{index} * sectionSize; };
  LibraryFacts facts;
  for (std::uint32_t index = 0; index < sectionCount; ++index) {
    const std::uint64_t header = section(index);
    const auto type = file.at<std::uint32_t>(header + 4);
    if (type != kDynamic && type != kDynamicSymbols) continue;
    const auto offset = file.at<std::uint64_t>(header + 0x18);
    const auto size = file.at<std::uint64_t>(header + 0x20);
    const auto link = file.at<std::uint32_t>(header + 0x28);
    const auto entrySize = file.at<std::uint64_t>(header + 0x38);
    if (link >= sectionCount || entrySize == 0) throw std::runtime_error("its section table is damaged");
    const auto names = file.at<std::uint64_t>(section(link) + 0x18);
    file.need(offset, size);
    for (std::uint64_t entry = offset; entry + entrySize <= offset + size; entry += entrySize) {
      if (type == kDynamic) {
        if (file.at<std::int64_t>(entry) == kNeeded) {
          facts.needed.push_back(file.text(names + file.at<std::uint64_t>(entry + 8)));
        }
        continue;
      }
      const auto name = file.at<std::uint32_t>(entry);
      const unsigned binding = file.at<std::uint8_t>(entry + 4) >> 4;
      const auto sectionIndex = file.at<std::uint16_t>(entry + 6);
      if (name == 0 || sectionIndex == 0) continue;  // undefined here
      if (binding == kGnuUnique) facts.uniqueSymbols.push_back(demangled(file.text(names + name)));
      if (binding == kGlobal || binding == kWeak || binding == kGnuUnique) {
        facts.exports.push_back(file.text(names + name));
      }
    }
  }
  return facts;
}

// PE32+: the export directory's names, and the import and delay-import
// directories' library names.
LibraryFacts readPe(const Bytes& file) {
  const auto pe = file.at<std::uint32_t>(0x3C);
  if (file.at<std::uint32_t>(pe) != 0x00004550) throw std::runtime_error("it has no PE header");
  const auto sectionCount = file.at<std::uint16_t>(pe + 6);
  const auto optionalSize = file.at<std::uint16_t>(pe + 20);
  const std::uint64_t optional = pe + 24;
  if (file.at<std::uint16_t>(optional) != 0x20B) throw std::runtime_error("it is not a 64-bit PE file");
  const auto directoryCount = file.at<std::uint32_t>(optional + 108);
  const std::uint64_t sections = optional + optionalSize;
  // A relative virtual address as an offset in the file.
  const auto offsetOf = [&](std::uint32_t rva) -> std::uint64_t {
    for (std::uint32_t index = 0; index < sectionCount; ++index) {
      const std::uint64_t header = sections + std::uint64_t{index} * 40;
      const auto address = file.at<std::uint32_t>(header + 12);
      const auto size = std::max(file.at<std::uint32_t>(header + 8), file.at<std::uint32_t>(header + 16));
      if (rva >= address && rva - address < size) {
        return file.at<std::uint32_t>(header + 20) + std::uint64_t{rva - address};
      }
    }
    throw std::runtime_error("an address lies outside every section");
  };
  const auto directory = [&](std::uint32_t index) -> std::uint32_t {
    return index < directoryCount ? file.at<std::uint32_t>(optional + 112 + 8 * index) : 0;
  };
  LibraryFacts facts;
  if (const std::uint32_t exports = directory(0); exports != 0) {
    const std::uint64_t table = offsetOf(exports);
    const auto count = file.at<std::uint32_t>(table + 24);
    const std::uint64_t names = offsetOf(file.at<std::uint32_t>(table + 32));
    for (std::uint32_t index = 0; index < count; ++index) {
      facts.exports.push_back(file.text(offsetOf(file.at<std::uint32_t>(names + 4 * index))));
    }
  }
  // Import descriptors are 20 bytes with the name at 12, delay-import ones
  // 32 bytes with the name at 4; both lists end with an empty entry.
  const struct {
    std::uint32_t directory, entrySize, nameAt;
  } lists[] = {{1, 20, 12}, {13, 32, 4}};
  for (const auto& list : lists) {
    const std::uint32_t start = directory(list.directory);
    if (start == 0) continue;
    for (std::uint64_t entry = offsetOf(start);; entry += list.entrySize) {
      const auto name = file.at<std::uint32_t>(entry + list.nameAt);
      if (name == 0) break;
      facts.needed.push_back(file.text(offsetOf(name)));
    }
  }
  return facts;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::string joined(const std::vector<std::string>& names, std::size_t most) {
  std::string text;
  for (std::size_t index = 0; index < names.size() && index < most; ++index) {
    text += (index == 0 ? "" : ", ") + names[index];
  }
  if (names.size() > most) text += " and " + std::to_string(names.size() - most) + " more";
  return text;
}

}  // namespace

LibraryFacts readLibraryFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
  if (!in) throw std::runtime_error("cannot open it");
  const Bytes file(std::vector<char>(std::istreambuf_iterator<char>(in), {}));
  if (file.size() >= 4 && file.at<std::uint32_t>(0) == 0x464C457F) return readElf(file);
  if (file.size() >= 2 && file.at<std::uint16_t>(0) == 0x5A4D) return readPe(file);
  throw std::runtime_error("it is neither an ELF nor a PE file");
}

std::vector<std::string> exportProblems(const LibraryFacts& facts) {
  std::vector<std::string> problems;
  for (const char* name : {kFpcCreateName, kFpcDestroyName}) {
    if (std::find(facts.exports.begin(), facts.exports.end(), name) == facts.exports.end()) {
      problems.push_back(std::string(name) + " is not exported under that name");
    }
  }
  if (!facts.uniqueSymbols.empty()) {
    problems.push_back(std::to_string(facts.uniqueSymbols.size()) +
                       " GNU-unique symbol(s), so the library could never be unloaded (build "
                       "with -fno-gnu-unique): " +
                       joined(facts.uniqueSymbols, 3));
  }
  const char* own = "";
  for (const StandardLibrary& library : kStandardLibraries) {
    if (std::string_view(library.filePrefix) == kOwnStandardLibrary) own = library.name;
  }
  for (const std::string& needed : facts.needed) {
    for (const StandardLibrary& library : kStandardLibraries) {
      if (startsWithIgnoringCase(needed, library.filePrefix) &&
          std::string_view(library.filePrefix) != kOwnStandardLibrary) {
        problems.push_back("it imports " + needed + ", the C++ standard library of " +
                           library.name + ", but the plug-in is built with " + own +
                           ", and the interface passes std::string and std::unordered_map");
      }
    }
  }
  return problems;
}

}  // namespace conform
