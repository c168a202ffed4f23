// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include "driver/process.h"

namespace ncrewrite {

void SetCommandLine(int, const char* const*) {}
std::string GetCommandArgument(std::int32_t) { return {}; }
std::string GetExecutablePath() { return {}; }
bool IsExistingFile(const std::string&) { return false; }

}  // namespace ncrewrite
