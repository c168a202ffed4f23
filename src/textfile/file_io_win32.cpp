#include "textfile/file_io.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "failure/platform_text.h"
#include "failure/windows_path.h"
#include "textfile/file_failures.h"

namespace ncrewrite {
namespace {

// ReadFile and WriteFile take a 32-bit count; larger transfers are split.
constexpr std::uint64_t kMaxRequest = std::uint64_t{1} << 30;

// How long a replace that another process is in the way of is tried again:
// a virus scanner or an indexer that opens a fresh file lets go of it soon.
constexpr DWORD kReplaceRetryMilliseconds = 1000;

HANDLE Handle(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.get()); }

FileHandle Adopt(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? FileHandle()
                                        : FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

int LastError() { return static_cast<int>(::GetLastError()); }

/// CreateFileW with no security attributes, normal attributes and no
/// template: the form that every open of the program takes. Gives 0 with
/// `file` open, or the error with `file` closed.
int OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
             FileHandle& file) {
  const std::wstring name = WindowsPath(path);
  const HANDLE handle = ::CreateFileW(name.c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  const int error = handle == INVALID_HANDLE_VALUE ? LastError() : 0;
  file = Adopt(handle);
  return error;
}

/// Opens `path` for loading: others may read the file meanwhile, not write
/// it. Raises EFOpenError.
FileHandle OpenForLoading(const std::string& path) {
  FileHandle file;
  if (const int error = OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, file)) {
    RaiseOpenFailure(path, error);
  }
  return file;
}

/// The size of the open file, 64 bits wide. Raises EReadError for what has
/// no size, such as a pipe or a console.
std::uint64_t SizeOf(const FileHandle& file) {
  LARGE_INTEGER size;
  if (::GetFileType(Handle(file)) != FILE_TYPE_DISK || !::GetFileSizeEx(Handle(file), &size) ||
      size.QuadPart < 0) {
    RaiseReadFailure();
  }
  const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
  if (bytes > PTRDIFF_MAX) throw std::bad_alloc();
  return bytes;
}

/// Reads exactly `size` bytes. A failed request, or one that ends early
/// (the file shrank meanwhile), raises EReadError.
void ReadFully(const FileHandle& file, char* data, std::uint64_t size) {
  std::uint64_t done = 0;
  while (done < size) {
    const auto request = static_cast<DWORD>(std::min(size - done, kMaxRequest));
    DWORD got = 0;
    if (!::ReadFile(Handle(file), data + done, request, &got, nullptr) || got == 0) {
      RaiseReadFailure();
    }
    done += got;
  }
}

/// One write request; a request that fails counts as having written nothing.
DWORD WriteOnce(const FileHandle& file, const char* data, std::size_t size) {
  DWORD written = 0;
  const auto request = static_cast<DWORD>(std::min<std::uint64_t>(size, kMaxRequest));
  if (!::WriteFile(Handle(file), data, request, &written, nullptr)) return 0;
  return written;
}

/// The part of `path` up to and including its last separator (or the drive
/// of "C:name"), empty when it names a file in the current directory.
std::string DirectoryPartOf(const std::string& path) {
  std::size_t end = path.find_last_of("\\/");
  end = end == std::string::npos ? 0 : end + 1;
  if (end == 0 && path.size() >= 2 && path[1] == ':') end = 2;
  return path.substr(0, end);
}

/// A name for a temporary file that no other process of the program picks
/// at the same time: the process number and a count, mixed with the clock
/// so that a name left behind by a crash is not met again and again.
std::string TempName(unsigned attempt) {
  static unsigned counter = 0;
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  std::uint64_t mixed = (std::uint64_t{::GetCurrentProcessId()} << 32) ^
                        static_cast<std::uint64_t>(now.QuadPart) ^ (++counter * 0x9E3779B97F4A7C15ull) ^
                        attempt;
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name = ".ncrewrite-";
  for (int k = 0; k < 8; ++k) {
    name += kDigits[mixed % 36];
    mixed /= 36;
  }
  return name;
}

/// Errors of a replace that a short wait may cure: another process (a
/// virus scanner, an indexer, a backup) has the output or the fresh file
/// open.
bool MayPassSoon(int error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

/// The attributes that a replaced file keeps. Read-only is not among them:
/// such an output is never replaced (the open for writing refuses it), and
/// a read-only temporary file could not be removed after a failure.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

/// Gives `temp` the access rules (DACL) of `existing`, inherited or its own.
/// Only where the file system has them and lets this process set them: a
/// share without access rules keeps those that it gives a new file.
void CopyAccessRules(const FileHandle& temp, const FileHandle& existing) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(Handle(existing), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  const SECURITY_INFORMATION protection = (control & SE_DACL_PROTECTED) != 0
                                              ? PROTECTED_DACL_SECURITY_INFORMATION
                                              : UNPROTECTED_DACL_SECURITY_INFORMATION;
  ::SetSecurityInfo(Handle(temp), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection, nullptr,
                    nullptr, dacl, nullptr);
  ::LocalFree(descriptor);
}

/// Frees a buffer that the system allocated with LocalAlloc.
struct LocalFreer {
  void operator()(wchar_t* text) const noexcept { ::LocalFree(text); }
};

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
  const FileHandle file = OpenForLoading(path);
  const std::uint64_t size = SizeOf(file);
  auto copy = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
  ReadFully(file, copy.get(), size);
  return FileBytes(std::move(copy), size);
}

// Windows maps no file for loading (see file_view_win32.cpp): a file with a
// view could not be replaced by its own rewrite.
FileBytes ViewWholeFile(const std::string& path) { return ReadWholeFile(path); }

std::optional<std::string> ReadSmallFile(const std::string& path) {
  FileHandle file;
  // A pipe or a device would not end, or not at once.
  if (OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, file) != 0 ||
      ::GetFileType(Handle(file)) != FILE_TYPE_DISK) {
    return std::nullopt;
  }
  std::string bytes;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(Handle(file), chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(chunk, got);
  }
}

std::string ResolveLinks(const std::string& path) {
  // Opening follows every link, whether the system reports it as one (an
  // NTFS link) or not (a Unix link under Wine); the system then names the
  // file it reached. Nothing there, or no name for it: the path itself.
  const FileHandle file = Adopt(::CreateFileW(
      WindowsPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.is_open()) return path;
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        Handle(file), final_path.data(), static_cast<DWORD>(final_path.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return path;
    if (length < final_path.size()) {
      final_path.resize(length);
      return Wtf8FromUtf16(std::u16string(final_path.begin(), final_path.end()));
    }
    final_path.resize(length);  // the room needed, NUL included
  }
}

int OpenExistingOutput(const std::string& path, FileHandle& file) {
  // Share mode 0 keeps every other process out until the save ends; an
  // output that another process holds fails here with a sharing violation.
  const int error = OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, file);
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

FileFacts QueryFile(const FileHandle& file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(Handle(file)) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(Handle(file), &info)) {
    return {};
  }
  return {(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0, info.nNumberOfLinks};
}

int TruncateFile(const FileHandle& file) {
  if (::SetFilePointer(Handle(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(Handle(file))) {
    return LastError();
  }
  return 0;
}

int CreateOutputInPlace(const std::string& path, FileHandle& file) {
  // OPEN_ALWAYS: an existing file is opened as it is; emptying it is the
  // caller's step.
  return OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, file);
}

int CreateTempFileBeside(const std::string& target, const FileHandle&, std::string& temp_path,
                         FileHandle& file) {
  // The new file gets the security of its directory, as every new file
  // does, until MatchPermissions gives it the output's.
  const std::string directory = DirectoryPartOf(target);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string name = directory + TempName(attempt);
    FileHandle created;
    const int error =
        OpenFile(name, GENERIC_READ | GENERIC_WRITE | WRITE_DAC, 0, CREATE_NEW, created);
    if (error == 0) {
      temp_path = std::move(name);
      file = std::move(created);
      return 0;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

void WriteToFile(const FileHandle& file, const char* data, std::size_t size) {
  // The first request may write nothing (it failed); every later one must
  // make progress.
  bool first = true;
  while (size > 0) {
    const DWORD written = WriteOnce(file, data, size);
    if (written == 0 && !first) RaiseWriteFailure();
    first = false;
    data += written;
    size -= written;
  }
}

int FlushToDisk(const FileHandle& file) {
  return ::FlushFileBuffers(Handle(file)) ? 0 : LastError();
}

// What ReplaceFileW would keep of the output, given to the new file before
// it takes the output's place: the attributes, the creation time and the
// access rules. ReplaceFileW itself is not used: Wine's moves the old file
// away and deletes it before the new one takes its name, so that for a
// moment there is no output at all, and leaves a file of its own behind
// when it fails; a rename over the output is one step on every system.
int MatchPermissions(const FileHandle& temp, const FileHandle& existing) {
  if (!existing.is_open()) return 0;  // a new output: as any new file
  FILE_BASIC_INFO old_info;
  if (!::GetFileInformationByHandleEx(Handle(existing), FileBasicInfo, &old_info,
                                      sizeof old_info)) {
    return LastError();
  }
  FILE_BASIC_INFO new_info = {};  // times of 0 stay as they are
  new_info.CreationTime = old_info.CreationTime;
  new_info.FileAttributes = old_info.FileAttributes & kKeptAttributes;
  if (new_info.FileAttributes == 0) new_info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(Handle(temp), FileBasicInfo, &new_info, sizeof new_info)) {
    return LastError();
  }
  CopyAccessRules(temp, existing);
  return 0;
}

int MoveIntoPlace(const std::string& temp_path, const std::string& target,
                  FileHandle& existing) {
  // Windows cannot replace a file that this process still holds open.
  existing.Close();
  const std::wstring temp = WindowsPath(temp_path);
  const std::wstring output = WindowsPath(target);
  DWORD waited = 0;
  for (DWORD pause = 25;; pause = std::min<DWORD>(pause * 2, 250)) {
    // MOVEFILE_WRITE_THROUGH: the new name is on the disk when it returns.
    if (::MoveFileExW(temp.c_str(), output.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return 0;
    }
    const int error = LastError();
    if (!MayPassSoon(error) || waited >= kReplaceRetryMilliseconds) return error;
    ::Sleep(pause);
    waited += pause;
  }
}

void RemoveFile(const std::string& path) noexcept {
  try {
    ::DeleteFileW(WindowsPath(path).c_str());
  } catch (...) {
    // Out of memory for the path: the file stays, as with any error here.
  }
}

std::string FullPath(const std::string& path) {
  const std::u16string units = Utf16FromWtf8(path);
  const std::wstring full = FullPathName(std::wstring(units.begin(), units.end()));
  if (full.empty()) return path;
  return Wtf8FromUtf16(std::u16string(full.begin(), full.end()));
}

std::string SystemErrorText(int error) {
  wchar_t* buffer = nullptr;
  // FORMAT_MESSAGE_ALLOCATE_BUFFER | IGNORE_INSERTS | FROM_SYSTEM |
  // ARGUMENT_ARRAY, in the system's own language.
  const DWORD length =
      ::FormatMessageW(0x3300, nullptr, static_cast<DWORD>(error), 0,
                       reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreer> owned(buffer);
  if (length == 0 || buffer == nullptr) return {};
  return TrimSystemText(Wtf8FromUtf16(std::u16string(buffer, buffer + length)));
}

}  // namespace ncrewrite
