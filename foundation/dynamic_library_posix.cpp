// POSIX only: dlopen and friends.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/dynamic_library.h"
#include "foundation/utf_convert.h"

namespace plx {

namespace {

struct FreeWithFree {
  void operator()(char* text) const noexcept { std::free(text); }
};

// The loaded object's link map entry: its load address and its name as
// dlopen was given it.
const link_map* linkMapOf(void* handle) noexcept {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

struct BuildIdSearch {
  ElfW(Addr) loadAddress;
  std::string hex;
};

// The GNU build id note among the PT_NOTE segments of the object that is
// mapped at search->loadAddress; the mapped copy is the file's own.
int findBuildId(dl_phdr_info* info, std::size_t, void* data) noexcept {
  auto* search = static_cast<BuildIdSearch*>(data);
  if (info->dlpi_addr != search->loadAddress) return 0;
  for (ElfW(Half) index = 0; index < info->dlpi_phnum; ++index) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[index];
    if (segment.p_type != PT_NOTE) continue;
    const auto* note = reinterpret_cast<const unsigned char*>(info->dlpi_addr + segment.p_vaddr);
    const unsigned char* const end = note + segment.p_memsz;
    // Note names and descriptions are padded to four bytes.
    const auto padded = [](ElfW(Word) size) { return (size + 3u) & ~ElfW(Word){3}; };
    while (note + sizeof(ElfW(Nhdr)) <= end) {
      ElfW(Nhdr) header;
      std::memcpy(&header, note, sizeof header);
      const unsigned char* name = note + sizeof header;
      const unsigned char* description = name + padded(header.n_namesz);
      if (description + header.n_descsz > end) break;
      if (header.n_type == NT_GNU_BUILD_ID && header.n_namesz == 4 &&
          std::memcmp(name, "GNU", 4) == 0) {
        static constexpr char kDigits[] = "0123456789abcdef";
        try {
          for (ElfW(Word) byte = 0; byte < header.n_descsz; ++byte) {
            search->hex += kDigits[description[byte] >> 4];
            search->hex += kDigits[description[byte] & 15];
          }
        } catch (...) {
          // Out of memory: reported as no build id rather than thrown
          // through the C library's iteration.
          search->hex.clear();
        }
        return 1;
      }
      note = description + padded(header.n_descsz);
    }
  }
  return 1;
}

}  // namespace

void LibraryTraits::close(Handle handle) noexcept { ::dlclose(handle); }

namespace detail {

void* openLibrary(const std::string& path) {
  // dlopen would take any bytes, but a path is UTF-8 on every platform: one
  // that Windows cannot convert for LoadLibraryW is refused here as well, with
  // the same exception, rather than loading on one platform only.
  static_cast<void>(utf8ToUtf16(path));
  // RTLD_LOCAL keeps the library's symbols out of the process's global scope,
  // like a Windows module; RTLD_NOW reports missing dependencies at load.
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(void* handle, const char* name) noexcept {
  ::dlerror();  // a null symbol value is only an error if dlerror says so
  return ::dlsym(handle, name);
}

void describeLoadFailure(std::string& message) {
  // dlopen sets no reliable errno; its own text is the reason. It is kept per
  // thread until the next dl call, so it is still the failing call's text.
  const char* reason = ::dlerror();
  if (reason == nullptr) return;
  message += ". ";
  message += reason;
}

std::string loadedFilePath(void* handle) {
  const link_map* map = linkMapOf(handle);
  if (map == nullptr || map->l_name == nullptr || *map->l_name == '\0') return "";
  // l_name is the path as given to dlopen, perhaps relative; the current
  // directory is still the one it was loaded from.
  const std::unique_ptr<char, FreeWithFree> full(::realpath(map->l_name, nullptr));
  return full ? std::string(full.get()) : std::string(map->l_name);
}

std::string carriedIdentity(void* handle, const std::string&) {
  const link_map* map = linkMapOf(handle);
  if (map == nullptr) return "no build id";
  BuildIdSearch search{map->l_addr, {}};
  ::dl_iterate_phdr(&findBuildId, &search);
  return search.hex.empty() ? "no build id" : "build id " + search.hex;
}

char pathSeparator() noexcept { return '/'; }
const char* sharedLibraryPrefix() noexcept { return "lib"; }
const char* sharedLibrarySuffix() noexcept { return ".so"; }

}  // namespace detail
}  // namespace plx
