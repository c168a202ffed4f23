#include <windows.h>

#include <string>

#include "driver/command_line.h"
#include "driver/process.h"
#include "failure/code_module.h"
#include "failure/platform_text.h"
#include "failure/windows_path.h"

namespace ncrewrite {
namespace {

/// Whether the name is found in its directory as a file that is no
/// directory: the answer when the attributes cannot be read, as for a file
/// that the system keeps open without sharing.
bool FoundAsFile(LPCWSTR path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

/// Whether the file that a link leads to opens for reading, or exists but
/// is held by another process without sharing.
bool TargetOpensForReading(LPCWSTR path) {
  const HANDLE file =
      ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
  ::CloseHandle(file);
  return true;
}

}  // namespace

// Windows hands the command line over as one string, which
// GetCommandArgument asks for afresh: there is nothing to keep.
void SetCommandLine(int, const char* const*) {}

std::string GetCommandArgument(std::int32_t index) {
  const auto* line = reinterpret_cast<const char16_t*>(::GetCommandLineW());
  return Wtf8FromUtf16(CommandLineArgument(line, index));
}

// The failure report names the same file, so both ask the same question.
std::string GetExecutablePath() { return OwnExecutablePath(); }

bool IsExistingFile(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring name = WindowsPath(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME) {
      return false;
    }
    return FoundAsFile(name.c_str());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  // A symbolic link or junction: only its target tells.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return TargetOpensForReading(name.c_str());
  return true;
}

}  // namespace ncrewrite
