// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include <cstdlib>

#include "failure/code_module.h"

namespace ncrewrite {

bool FindCodeModule(std::uint64_t, CodeModule&) { return false; }
std::string OwnExecutablePath() { return {}; }
char ModulePathSeparator() noexcept { return '\\'; }

}  // namespace ncrewrite
