// What the exports clause reads from the SDK library's file itself, without
// binutils (an SDK builder may not have them): the names it exports, its
// GNU-unique symbols (ELF), and the libraries it needs (ELF DT_NEEDED, PE
// imports and delayed imports). 64-bit ELF and PE32+ files; both are read on
// both platforms.
#pragma once

#include <string>
#include <vector>

namespace conform {

struct LibraryFacts {
  std::vector<std::string> exports;
  std::vector<std::string> uniqueSymbols;  // demangled where possible
  std::vector<std::string> needed;
};

// Throws std::runtime_error naming what could not be read.
LibraryFacts readLibraryFile(const std::string& path);

// What the facts break of the exports rule, each a sentence; empty when
// nothing.
std::vector<std::string> exportProblems(const LibraryFacts& facts);

}  // namespace conform
