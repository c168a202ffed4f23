#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "failure/code_module.h"

namespace ncrewrite {
namespace {

struct Search {
  std::uint64_t address;
  std::uint64_t page_size;
  bool found = false;
  std::uint64_t load_address = 0;
  const char* name = nullptr;
};

/// dl_iterate_phdr callback: stops at the module with a loaded segment that
/// holds the address. Its load address is where its lowest segment's page
/// begins, the counterpart of a Windows module's allocation base.
int VisitModule(dl_phdr_info* info, std::size_t, void* data) {
  auto& search = *static_cast<Search*>(data);
  bool holds = false;
  std::uint64_t lowest = std::numeric_limits<std::uint64_t>::max();
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const std::uint64_t begin = info->dlpi_addr + segment.p_vaddr;
    lowest = std::min(lowest, begin & ~(search.page_size - 1));
    if (search.address >= begin && search.address - begin < segment.p_memsz) holds = true;
  }
  if (!holds) return 0;
  search.found = true;
  search.load_address = lowest;
  search.name = info->dlpi_name;
  return 1;
}

}  // namespace

bool FindCodeModule(std::uint64_t address, CodeModule& module) {
  Search search{address, static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE))};
  dl_iterate_phdr(VisitModule, &search);
  if (!search.found) return false;
  // The dynamic linker names the executable itself with an empty string.
  module.path = search.name != nullptr && search.name[0] != '\0' ? std::string(search.name)
                                                                 : OwnExecutablePath();
  module.load_address = search.load_address;
  return true;
}

std::string OwnExecutablePath() {
  std::string path(4096, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

char ModulePathSeparator() noexcept { return '/'; }

}  // namespace ncrewrite
