#include "textfile/file_io.h"

#include <windows.h>

#include <aclapi.h>
#include <ntsecapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

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

std::wstring Wide(std::string_view text) {
  const std::u16string units = Utf16FromWtf8(text);
  return std::wstring(units.begin(), units.end());
}

std::string Narrow(std::wstring_view text) {
  return Wtf8FromUtf16(std::u16string(text.begin(), text.end()));
}

/// CreateFileW with no template. Gives 0 with `file` open, or the error
/// with `file` closed.
int OpenName(const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD flags,
             FileHandle& file, SECURITY_ATTRIBUTES* security = nullptr) {
  const HANDLE handle =
      ::CreateFileW(name.c_str(), access, share, security, disposition, flags, nullptr);
  const int error = handle == INVALID_HANDLE_VALUE ? LastError() : 0;
  file = Adopt(handle);
  return error;
}

/// CreateFileW with no security attributes, normal attributes and no
/// template: the form that every open of a path given by the user takes.
int OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
             FileHandle& file) {
  return OpenName(WindowsPath(path), access, share, disposition, FILE_ATTRIBUTE_NORMAL, file);
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

/// The path by which the system knows the open file or directory now, in
/// its full extended form ("\\?\C:\jobs\part.nc", or "\\?\UNC\..." on a
/// share), with links resolved as the open resolved them and every name in
/// its long form. Gives 0 or the error.
int FinalPathOf(HANDLE handle, std::wstring& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return LastError();
    if (length < buffer.size()) {
      buffer.resize(length);
      path = std::move(buffer);
      return 0;
    }
    buffer.resize(length);  // the room needed, NUL included
  }
}

/// The path of the directory of `place`, where it is now, ending in a
/// separator. Gives 0 or the error.
int DirectoryPathOf(const FilePlace& place, std::wstring& path) {
  const HANDLE directory = Handle(place.directory);
  const int error = FinalPathOf(directory, path);
  if (error != 0) {
    // Where the system cannot tell it (Wine, for one longer than MAX_PATH):
    // the path the directory was opened by, which stays its own, as a held
    // directory cannot be renamed.
    if (!place.directory.is_open() || place.directory_path.empty()) return error;
    path = Wide(place.directory_path);
  }
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return 0;
}

/// The path of `name` in the directory of `place`, where that directory is
/// now. Gives 0 or the error.
int PathInPlace(const FilePlace& place, std::string_view name, std::wstring& path) {
  if (const int error = DirectoryPathOf(place, path)) return error;
  path += Wide(name);
  return 0;
}

/// Opens the directory `directory`, a full path that ends in a separator
/// (so that a file of that name is refused), and holds it for a place: as
/// nobody else may open it for deleting meanwhile, it cannot be renamed or
/// removed while a file in it is saved. Gives 0 or the error.
int HoldDirectory(const std::wstring& directory, FileHandle& held) {
  FileHandle opened;
  if (const int error = OpenName(directory, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, opened)) {
    return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(Handle(opened), &info)) return LastError();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
  held = std::move(opened);
  return 0;
}

/// The place of the full path `full`: its directory, held, and its last
/// component. Gives 0 or the error.
int OpenPlace(const std::wstring& full, FilePlace& place) {
  const std::size_t separator = full.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return ERROR_INVALID_NAME;
  std::wstring name = full.substr(separator + 1);
  if (name.empty()) return ERROR_INVALID_NAME;
  FileHandle directory;
  const std::wstring directory_path = full.substr(0, separator + 1);
  if (const int error = HoldDirectory(directory_path, directory)) return error;
  place.directory = std::move(directory);
  place.name = Narrow(name);
  place.directory_path = Narrow(directory_path);
  return 0;
}

/// Whether `path` names a symbolic link itself (whatever it leads to).
bool IsSymbolicLink(const std::string& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(WindowsPath(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         found.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
}

/// Errors of a replace that a short wait may cure: another process (a
/// virus scanner, an indexer, a backup) has the output or the fresh file
/// open.
bool MayPassSoon(int error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

bool IsLackOfRoom(int error) {
  constexpr int kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, not in every SDK
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
         error == kDiskQuotaExceeded || error == ERROR_NOT_ENOUGH_QUOTA;
}

/// The attributes that a replaced file keeps. Read-only is not among them:
/// such an output is never replaced (the open for writing refuses it), and
/// a read-only temporary file could not be removed after a failure.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

/// Whether the volume of `file` keeps access rules for its files (NTFS
/// does, FAT on a memory stick does not: there everyone may use every file).
bool KeepsAccessRules(const FileHandle& file) {
  DWORD flags = 0;
  if (!::GetVolumeInformationByHandleW(Handle(file), nullptr, 0, nullptr, nullptr, &flags,
                                       nullptr, 0)) {
    return true;  // asked all the same: a failure then tells
  }
  return (flags & FILE_PERSISTENT_ACLS) != 0;
}

/// A security descriptor that the system allocated, freed with LocalFree.
struct SecurityOf {
  SecurityOf(const FileHandle& file, SECURITY_INFORMATION what)
      : error(static_cast<int>(::GetSecurityInfo(Handle(file), SE_FILE_OBJECT, what, &owner,
                                                 &group, &dacl, &sacl, &descriptor))) {}
  ~SecurityOf() { ::LocalFree(descriptor); }
  SecurityOf(const SecurityOf&) = delete;
  SecurityOf& operator=(const SecurityOf&) = delete;

  bool DaclProtected() const {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return ::GetSecurityDescriptorControl(descriptor, &control, &revision) &&
           (control & SE_DACL_PROTECTED) != 0;
  }

  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  int error;
};

/// Gives `temp` the owner and the group of `existing`, which a new file
/// does not get by being made. Gives 0 or the error: ERROR_INVALID_OWNER or
/// another for which ForbidsNewFile holds when this user may not give them.
int GiveOwnerOf(const FileHandle& existing, const FileHandle& temp) {
  if (!KeepsAccessRules(existing)) return 0;
  constexpr SECURITY_INFORMATION kOwnerAndGroup =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
  const SecurityOf wanted(existing, kOwnerAndGroup);
  if (wanted.error != 0) return wanted.error;
  if (wanted.owner == nullptr || wanted.group == nullptr) return 0;  // none to give
  const SecurityOf made(temp, kOwnerAndGroup);
  if (made.error != 0) return made.error;
  if (made.owner != nullptr && made.group != nullptr && ::EqualSid(wanted.owner, made.owner) &&
      ::EqualSid(wanted.group, made.group)) {
    return 0;
  }
  return static_cast<int>(::SetSecurityInfo(Handle(temp), SE_FILE_OBJECT, kOwnerAndGroup,
                                            wanted.owner, wanted.group, nullptr, nullptr));
}

/// Gives `temp` the access rules of `existing`: its DACL, its own ACEs and
/// those that it inherits, as they are now, and its integrity label where
/// it has one, which decides who may write it as well.
int GiveAccessRulesOf(const FileHandle& existing, const FileHandle& temp) {
  if (!KeepsAccessRules(existing)) return 0;
  const SecurityOf wanted(existing, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION);
  if (wanted.error != 0) return wanted.error;
  // Inherited rules are taken from the directory again, which is the same.
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                              (wanted.DaclProtected() ? PROTECTED_DACL_SECURITY_INFORMATION
                                                      : UNPROTECTED_DACL_SECURITY_INFORMATION);
  if (wanted.sacl != nullptr) what |= LABEL_SECURITY_INFORMATION;
  return static_cast<int>(::SetSecurityInfo(Handle(temp), SE_FILE_OBJECT, what, nullptr, nullptr,
                                            wanted.dacl, wanted.sacl));
}

/// A security descriptor that lets the running user alone use a file, and
/// inherits nothing from the directory: a temp file that replaces a file
/// with stricter rules than its directory's must not show its content to
/// others while it is written.
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
      error_ = LastError();
      return;
    }
    DWORD size = sizeof user_;
    if (!::GetTokenInformation(token, TokenUser, user_, size, &size)) error_ = LastError();
    ::CloseHandle(token);
    if (error_ != 0) return;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
    if (!::InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION) ||
        !::AddAccessAllowedAce(reinterpret_cast<PACL>(acl_), ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_), FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      error_ = LastError();
    }
    attributes_.lpSecurityDescriptor = &descriptor_;
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

  int error() const { return error_; }
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  alignas(8) unsigned char user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  alignas(8) unsigned char acl_[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE] =
      {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  int error_ = 0;
};

/// Marks the open `file` for deletion, which happens once its last handle
/// is closed; the handle must have delete access, which a file's own rules
/// cannot take away once it is open.
bool DeleteThrough(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// The temp file of the save in progress, kept open with delete access until
// it is moved into place or removed: with the output's access rules it may
// no longer allow this user to delete it by name.
//
// A request to end the process removes it first. On Windows such a request
// is a console control event (Ctrl+C, Ctrl+Break, the console closed, the
// user logging off, shut-down), which comes on a thread of its own, so the
// record changes only under its lock. A program of the graphical subsystem
// has no console and gets none of them: it is ended without notice, as by a
// power cut, and a temp file stays behind.
struct TempRecord {
  SRWLOCK lock = SRWLOCK_INIT;
  HANDLE file = nullptr;       // with delete access; none when there is no temp file
  HANDLE directory = nullptr;  // of its place
  char name[32] = {};
};
TempRecord g_temp;

class RecordLock {
 public:
  RecordLock() { ::AcquireSRWLockExclusive(&g_temp.lock); }
  ~RecordLock() { ::ReleaseSRWLockExclusive(&g_temp.lock); }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;
};

/// Whether the record is the temp file `name` in the directory of `place`.
bool IsRecorded(const FilePlace& place, std::string_view name) {
  return g_temp.file != nullptr && g_temp.directory == Handle(place.directory) &&
         name == g_temp.name;
}

/// Lets go of the recorded temp file, removing it or not.
void ForgetTempFile(bool remove) {
  const HANDLE file = std::exchange(g_temp.file, nullptr);
  if (file == nullptr) return;
  if (remove) DeleteThrough(file);
  ::CloseHandle(file);
}

BOOL WINAPI RemoveTempFileOnEnd(DWORD) {
  {
    const RecordLock locked;
    ForgetTempFile(true);
  }
  return FALSE;  // the next handler, at last the system's own, ends the process
}

void InstallHandlerOnce() {
  static const bool installed = ::SetConsoleCtrlHandler(RemoveTempFileOnEnd, TRUE) != 0;
  static_cast<void>(installed);
}

/// Six letters or digits that are hard to guess, for a temp file name. File
/// names are compared without case, so there are no capitals.
std::string RandomSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t bits = 0;
  if (!::RtlGenRandom(&bits, sizeof bits)) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    bits = static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15u ^
           std::uint64_t{::GetCurrentProcessId()} << 32;
  }
  std::string suffix(6, '\0');
  for (char& letter : suffix) {
    letter = kLetters[bits % (sizeof kLetters - 1)];
    bits /= sizeof kLetters - 1;
  }
  return suffix;
}

/// Makes the temp file `path` for `existing`: when that is open, readable
/// by this user alone and owned as it is. Gives 0 with `file` open, or the
/// error with nothing left behind.
int MakeTempFile(const std::wstring& path, const FileHandle& existing, FileHandle& file) {
  // Delete access stays with the handle whatever rules the file gets; others
  // may delete it too, so that the rename can open it.
  DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL;
  // A new output gets what any new file in its directory gets, and asks for
  // no more than such a file allows; one that replaces a file gets its
  // owner and rules too.
  OwnerOnlySecurity owner_only;
  SECURITY_ATTRIBUTES* security = nullptr;
  if (existing.is_open()) {
    if (owner_only.error() != 0) return owner_only.error();
    security = owner_only.attributes();
    access |= WRITE_DAC | WRITE_OWNER;
  }
  FileHandle created;
  if (const int error = OpenName(path, access, FILE_SHARE_DELETE, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, created, security)) {
    return error;
  }
  if (existing.is_open()) {
    if (const int error = GiveOwnerOf(existing, created)) {
      DeleteThrough(Handle(created));
      return error;
    }
  }
  file = std::move(created);
  return 0;
}

/// Opens what the name `path` leads to, only to tell which file it is: a
/// link at the name is opened itself, not followed, and the open conflicts
/// with no share mode, not even 0. Gives 0 or the error.
int OpenNamed(const std::wstring& path, FileHandle& named) {
  return OpenName(path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, named);
}

/// Whether the name `path` leads to the file `identity` (0), to another
/// one (ERROR_FILE_EXISTS), or the error of opening it.
int NamedFileIs(const std::wstring& path, const FileIdentity& identity) {
  FileHandle named;
  if (const int error = OpenNamed(path, named)) return error;
  return IdentityOf(named) == identity ? 0 : ERROR_FILE_EXISTS;
}

/// Whether `path`, links followed as the system resolves them, leads to
/// the open `file`. Only attributes are asked for, which no share mode
/// refuses: the output is held without sharing.
bool LeadsTo(const std::wstring& path, const FileHandle& file) {
  FileHandle named;
  return OpenName(path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, named) == 0 &&
         IdentityOf(named) == IdentityOf(file);
}

/// One attempt to move the temp file `temp` to `target`. The record of the
/// temp file ends with the move, under its lock, so that a request to end
/// the process never removes what has become the output.
int MoveOnce(const FilePlace& place, const std::string& temp_name, const std::wstring& temp,
             const std::wstring& target, DWORD flags) {
  const RecordLock locked;
  if (!::MoveFileExW(temp.c_str(), target.c_str(), flags)) return LastError();
  if (IsRecorded(place, temp_name)) ForgetTempFile(false);
  return 0;
}

/// Frees a buffer that the system allocated with LocalAlloc.
struct LocalFreer {
  void operator()(wchar_t* text) const noexcept { ::LocalFree(text); }
};

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
  const FileHandle file = OpenForLoading(path);
  const FileVersion version = VersionOf(file);
  const std::uint64_t size = SizeOf(file);
  auto copy = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
  ReadFully(file, copy.get(), size);
  FileBytes bytes(std::move(copy), size);
  bytes.set_origin(IdentityOf(file), version);
  return bytes;
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

FileFacts QueryFile(const FileHandle& file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(Handle(file)) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(Handle(file), &info)) {
    return {};
  }
  return {(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0, info.nNumberOfLinks,
          (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow};
}

FileIdentity IdentityOf(const FileHandle& file) {
  FILE_ID_INFO id;
  if (::GetFileInformationByHandleEx(Handle(file), FileIdInfo, &id, sizeof id)) {
    FileIdentity identity{id.VolumeSerialNumber, {}};
    static_assert(sizeof identity.file == sizeof id.FileId.Identifier);
    std::memcpy(identity.file, id.FileId.Identifier, sizeof identity.file);
    return identity;
  }
  // Before Windows 8 only the 64-bit number is told.
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(Handle(file), &info)) return {};
  return {info.dwVolumeSerialNumber,
          {(std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0}};
}

FileVersion VersionOf(const FileHandle& file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(Handle(file), &info)) return {};
  const std::uint64_t written =
      (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime;
  return {(std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
          static_cast<std::int64_t>(written)};
}

int OpenOutput(const std::string& path, FileHandle& file, bool& created) {
  created = false;
  // Share mode 0 keeps every other process out until the save ends; an
  // output that another process holds fails here with a sharing violation,
  // a read-only file and a directory with access denied.
  const int error = OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, file);
  if (error != ERROR_FILE_NOT_FOUND || !IsSymbolicLink(path)) {
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  // A link that leads to no file: the open makes the file where it leads.
  // Others may delete it, so that it can be removed again when the save
  // fails while it is still open.
  const int creation_error =
      OpenFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, OPEN_ALWAYS, file);
  created = creation_error == 0 && ::GetLastError() != ERROR_ALREADY_EXISTS;
  return creation_error;
}

int LocateOpenFile(const std::string& path, const FileHandle& file, FilePlace& place) {
  const std::wstring given = WindowsPath(FullPath(path));
  std::wstring found;
  if (FinalPathOf(Handle(file), found) == 0 && LeadsTo(given, file)) {
    FilePlace held;
    if (const int error = OpenPlace(found, held)) return error;
    if (CheckStillThere(held, file) == 0) {
      place = std::move(held);
      return 0;
    }
  }
  // Moved away since it was opened (a directory of its path renamed, a link
  // on it changed), or where the system cannot tell (Wine, beyond
  // MAX_PATH): the name as given, which leads elsewhere now or, in the
  // second case, to the file itself.
  return OpenPlace(given, place);
}

int PlaceOfNewFile(const std::string& path, FilePlace& place) {
  // Windows resolves "." and ".." by name before any link, as the full
  // path does; a name with a drive alone ("C:part.nc") is in that drive's
  // current directory.
  const std::wstring full = WindowsPath(FullPath(path));
  return OpenPlace(full, place);
}

int CheckStillThere(const FilePlace& place, const FileHandle& file) {
  std::wstring path;
  if (const int error = PathInPlace(place, place.name, path)) return error;
  if (file.is_open()) return NamedFileIs(path, IdentityOf(file));
  FileHandle named;
  const int error = OpenNamed(path, named);
  if (error == 0) return ERROR_FILE_EXISTS;
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

int ReserveRoom(const FileHandle& file, std::uint64_t size) {
  if (size == 0) return 0;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return ERROR_DISK_FULL;
  FILE_STANDARD_INFO standard;
  if (!::GetFileInformationByHandleEx(Handle(file), FileStandardInfo, &standard,
                                      sizeof standard)) {
    return LastError();
  }
  const auto held = static_cast<std::uint64_t>(standard.AllocationSize.QuadPart);
  const auto length = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  if (size <= held) return 0;
  // Room past the end, which the file keeps while it is open; never less
  // than its length, which would cut it.
  FILE_ALLOCATION_INFO allocation;
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(std::max(size, length));
  if (::SetFileInformationByHandle(Handle(file), FileAllocationInfo, &allocation,
                                   sizeof allocation)) {
    return 0;
  }
  const int error = LastError();
  if (IsLackOfRoom(error)) return error;
  // The file system cannot reserve: its free room must at least hold what
  // the file does not have yet. One that tells no free room has no limit to
  // check.
  std::wstring directory;
  if (FinalPathOf(Handle(file), directory) != 0) return 0;
  directory.resize(directory.find_last_of(L'\\') + 1);
  ULARGE_INTEGER free_to_this_user;
  if (!::GetDiskFreeSpaceExW(directory.c_str(), &free_to_this_user, nullptr, nullptr)) return 0;
  return size - held <= free_to_this_user.QuadPart ? 0 : ERROR_DISK_FULL;
}

int CutFile(const FileHandle& file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFileInformationByHandle(Handle(file), FileEndOfFileInfo, &end, sizeof end)
             ? 0
             : LastError();
}

int CreateTempFile(const FilePlace& place, const FileHandle& existing, std::string& temp_name,
                   FileHandle& file) {
  std::wstring directory;
  if (const int error = DirectoryPathOf(place, directory)) return error;
  InstallHandlerOnce();
  const RecordLock locked;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = ".ncrewrite-" + RandomSuffix();
    FileHandle created;
    const int error = MakeTempFile(directory + Wide(name), existing, created);
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    if (error != 0) return error;
    HANDLE kept = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), Handle(created), ::GetCurrentProcess(), &kept,
                           0, FALSE, DUPLICATE_SAME_ACCESS)) {
      const int duplicate_error = LastError();
      DeleteThrough(Handle(created));
      return duplicate_error;
    }
    ForgetTempFile(false);  // an earlier one is no longer removed at the end
    g_temp.file = kept;
    g_temp.directory = Handle(place.directory);
    name.copy(g_temp.name, sizeof g_temp.name - 1);
    g_temp.name[name.size()] = '\0';
    temp_name = std::move(name);
    file = std::move(created);
    return 0;
  }
  return ERROR_FILE_EXISTS;
}

bool ForbidsNewFile(int error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_NETWORK_ACCESS_DENIED ||
         error == ERROR_INVALID_OWNER || error == ERROR_INVALID_PRIMARY_GROUP ||
         error == ERROR_PRIVILEGE_NOT_HELD;
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
// it takes the output's place: the attributes, the creation time, the owner
// and the access rules. ReplaceFileW itself is not used: Wine's moves the
// old file away and deletes it before the new one takes its name, so that
// for a moment there is no output at all, and leaves a file of its own
// behind when it fails; a rename over the output is one step on every
// system.
int MatchPermissions(const FileHandle& temp, const FileHandle& existing) {
  if (!existing.is_open()) return 0;  // a new output: as any new file in its directory
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
  // Once more, as they are now: they may have changed during the save.
  if (const int error = GiveOwnerOf(existing, temp)) return error;
  return GiveAccessRulesOf(existing, temp);
}

int MoveIntoPlace(const FilePlace& place, const std::string& temp_name, FileHandle& existing) {
  const bool replaces = existing.is_open();
  const FileIdentity replaced = replaces ? IdentityOf(existing) : FileIdentity{};
  // Windows cannot replace a file that this process still holds open.
  existing.Close();
  std::wstring temp;
  std::wstring target;
  if (const int error = PathInPlace(place, temp_name, temp)) return error;
  if (const int error = PathInPlace(place, place.name, target)) return error;
  // MOVEFILE_WRITE_THROUGH: the new name is on the disk when it returns.
  // Without MOVEFILE_REPLACE_EXISTING for a new output: a file that another
  // program puts at the name meanwhile is not replaced.
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaces ? MOVEFILE_REPLACE_EXISTING : 0);
  DWORD waited = 0;
  for (DWORD pause = 25;; pause = std::min<DWORD>(pause * 2, 250)) {
    // The output is no longer held: another program may have put a file at
    // its name since, which is not replaced either.
    if (replaces) {
      if (const int error = NamedFileIs(target, replaced)) return error;
    }
    const int error = MoveOnce(place, temp_name, temp, target, flags);
    if (error == 0) return 0;
    if (!MayPassSoon(error) || waited >= kReplaceRetryMilliseconds) return error;
    ::Sleep(pause);
    waited += pause;
  }
}

void RemoveFileAt(const FilePlace& place, const std::string& name) noexcept {
  {
    const RecordLock locked;
    if (IsRecorded(place, name)) {
      // Through the handle: the file may no longer let this user delete it
      // by name once it has the output's access rules.
      const bool removed = DeleteThrough(g_temp.file);
      ForgetTempFile(false);
      if (removed) return;
    }
  }
  try {
    std::wstring path;
    if (PathInPlace(place, name, path) == 0) ::DeleteFileW(path.c_str());
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
