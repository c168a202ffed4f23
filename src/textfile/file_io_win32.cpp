// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include <cstdlib>

#include "textfile/file_io.h"

namespace ncrewrite {

FileBytes ReadWholeFile(const std::string&) { std::abort(); }
FileBytes ViewWholeFile(const std::string&) { std::abort(); }
std::optional<std::string> ReadSmallFile(const std::string&) { return std::nullopt; }
std::string ResolveLinks(const std::string& path) { return path; }
int OpenExistingOutput(const std::string&, FileHandle&) { return 1; }
FileFacts QueryFile(const FileHandle&) { return {}; }
int TruncateFile(const FileHandle&) { return 1; }
int CreateOutputInPlace(const std::string&, FileHandle&) { return 1; }
int CreateTempFileBeside(const std::string&, const FileHandle&, std::string&, FileHandle&) {
  return 1;
}
void WriteToFile(const FileHandle&, const char*, std::size_t) { std::abort(); }
int FlushToDisk(const FileHandle&) { return 1; }
int MatchPermissions(const FileHandle&, const FileHandle&) { return 1; }
int MoveIntoPlace(const std::string&, const std::string&, FileHandle&) { return 1; }
void RemoveFile(const std::string&) noexcept {}
std::string FullPath(const std::string& path) { return path; }
std::string SystemErrorText(int) { return {}; }

}  // namespace ncrewrite
