#pragma once

// What the run learns from the operating system about its own process and
// the input path. Each platform has its own process_<platform>.cpp, which
// gives each function the meaning stated here, with paths carried as
// failure/platform_text.h says, and never fails: a question that the
// platform cannot answer gives the empty text or false.

#include <cstdint>
#include <string>

namespace ncrewrite {

/// Keeps the platform's argument vector for GetCommandArgument. Platforms
/// that hand over one command line string ignore it. SetCommandLine(0,
/// nullptr) forgets the command line and releases its memory.
void SetCommandLine(int argc, const char* const* argv);

/// Argument `index` (1 or more) of the command line; empty when there is no
/// such argument.
std::string GetCommandArgument(std::int32_t index);

/// The full path of the running executable.
std::string GetExecutablePath();

/// True only when `path`, links followed, names a regular file; a link
/// counts only when its target can be opened for reading. Directories,
/// FIFOs, sockets and devices count as not existing, and nothing blocks.
bool IsExistingFile(const std::string& path);

}  // namespace ncrewrite
