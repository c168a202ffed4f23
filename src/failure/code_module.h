#pragma once

// What the platform tells about the modules (executable and shared
// libraries) mapped into the process. Each platform has its own
// code_module_<platform>.cpp; it raises no failure of its own, since the
// failure report asks while it reports one.

#include <cstdint>
#include <string>

namespace ncrewrite {

struct CodeModule {
  std::string path;               // the module file's full path
  std::uint64_t load_address = 0; // where its image begins in memory
};

/// Finds the module whose image holds `address`; false when none does.
bool FindCodeModule(std::uint64_t address, CodeModule& module);

/// The full path of the running executable; empty when it cannot be known.
std::string OwnExecutablePath();

/// The character that ends each directory in a module path.
char ModulePathSeparator() noexcept;

}  // namespace ncrewrite
