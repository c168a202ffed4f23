// The save must never lose the user's file on Windows either: an output
// that cannot be opened, one that another program holds or swaps for
// another file, a file that appears at the name, a replace that another
// program is briefly in the way of, and what a replaced file keeps: its
// attributes, its creation time and who may use it.

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "failure/failure.h"
#include "failure/windows_path.h"
#include "testing/failure_of.h"
#include "testing/temp_dir.h"
#include "textfile/file_io.h"
#include "textfile/line_list.h"
#include "textfile/output_file.h"
#include "textfile/text_file.h"

namespace ncrewrite {
namespace {

using testing::DirectoryEntries;
using testing::FailureOf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

void Save(const std::string& path) {
  LineList list = LineList::FromLines(SystemCodePage(), {u"NEW"});
  SaveTextFile(list, path);
}

HANDLE Raw(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.get()); }

/// Opens `path` as another program would, with `access` and `share`.
FileHandle OpenAsAnotherProgram(const std::string& path, DWORD access, DWORD share) {
  const HANDLE handle = ::CreateFileW(WindowsPath(path).c_str(), access, share, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path << ": " << ::GetLastError();
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

/// Which file `path` leads to now.
FileIdentity IdentityAt(const std::string& path) {
  return IdentityOf(OpenAsAnotherProgram(path, FILE_READ_ATTRIBUTES, 7));
}

std::string CreateMessage(const std::string& path, DWORD error) {
  return "Datei \"" + path + "\" kann nicht erstellt werden. " +
         SystemErrorText(static_cast<int>(error));
}

/// The owner, group, access rules and integrity label of the open `file`,
/// as text.
std::string SecurityText(HANDLE file) {
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION |
                                         GROUP_SECURITY_INFORMATION |
                                         DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT, kWhat, nullptr, nullptr, nullptr,
                                        nullptr, &descriptor);
  EXPECT_EQ(error, 0u);
  if (error != 0) return {};
  wchar_t* text = nullptr;
  EXPECT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                     kWhat, &text, nullptr));
  const std::wstring wide = text != nullptr ? text : L"";
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return std::string(wide.begin(), wide.end());  // SDDL is ASCII
}

std::string SecurityTextOf(const std::string& path) {
  return SecurityText(Raw(OpenAsAnotherProgram(path, READ_CONTROL, 7)));
}

/// Gives `path` the access rules `sddl` (a DACL in SDDL), as a user
/// would in Explorer's security tab.
void SetAccessRules(const std::string& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const FileHandle file = OpenAsAnotherProgram(path, READ_CONTROL | WRITE_DAC, 7);
  EXPECT_EQ(::SetSecurityInfo(Raw(file), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr),
            0u);
  ::LocalFree(descriptor);
}

/// The running user's SID as text.
std::wstring UserSid() {
  HANDLE token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(8) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof user;
  EXPECT_TRUE(::GetTokenInformation(token, TokenUser, user, size, &size));
  ::CloseHandle(token);
  wchar_t* text = nullptr;
  ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text);
  const std::wstring sid = text;
  ::LocalFree(text);
  return sid;
}

/// Whether the access rules of the open `file` let everyone read it.
bool EveryoneMayRead(HANDLE file) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &descriptor),
            0u);
  alignas(8) unsigned char everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  EXPECT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
  bool may = dacl == nullptr;  // a NULL DACL lets everyone in
  for (DWORD k = 0; dacl != nullptr && k < dacl->AceCount; ++k) {
    void* entry = nullptr;
    if (!::GetAce(dacl, k, &entry)) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        ::EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone) &&
        (allowed->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0) {
      may = true;
    }
  }
  ::LocalFree(descriptor);
  return may;
}

class SafeSave : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string out_ = dir_.File("part.nc");
};

TEST_F(SafeSave, OutputThatCannotBeOpenedFailsWithItsOwnPathAndStaysAsItWas) {
  ASSERT_TRUE(::CreateDirectoryW(WindowsPath(dir_.File("folder.nc")).c_str(), nullptr));
  WriteFile(dir_.File("held.nc"), "HELD\n");
  // Another program holds the file and lets nobody else open it.
  const FileHandle held =
      OpenAsAnotherProgram(dir_.File("held.nc"), GENERIC_READ | GENERIC_WRITE, 0);
  struct Case {
    std::string path;
    DWORD error;
  };
  const Case cases[] = {
      {dir_.File("folder.nc"), ERROR_ACCESS_DENIED},
      {(dir_.path() / "missing" / "part.nc").string(), ERROR_PATH_NOT_FOUND},
      {dir_.File("held.nc"), ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    const Failure failure = FailureOf([&] { Save(c.path); });
    EXPECT_EQ(failure.kind(), "EFCreateError") << c.path;
    EXPECT_EQ(failure.message(), CreateMessage(c.path, c.error));
  }
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"folder.nc", "held.nc"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "folder.nc"));
}

TEST_F(SafeSave, HeldOutputKeepsItsContent) {
  WriteFile(out_, "OLD\n");
  {
    const FileHandle held = OpenAsAnotherProgram(out_, GENERIC_READ, 0);
    EXPECT_EQ(FailureOf([&] { Save(out_); }).kind(), "EFCreateError");
  }
  EXPECT_EQ(ReadFile(out_), "OLD\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, ReadOnlyOutputFailsAndStaysAsItWas) {
  WriteFile(out_, "OLD\n");
  ASSERT_TRUE(::SetFileAttributesW(WindowsPath(out_).c_str(), FILE_ATTRIBUTE_READONLY));
  const HANDLE probe = ::CreateFileW(WindowsPath(out_).c_str(), GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    ::SetFileAttributesW(WindowsPath(out_).c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "this system lets a read-only file be written (Wine run as root)";
  }
  const Failure failure = FailureOf([&] { Save(out_); });
  ::SetFileAttributesW(WindowsPath(out_).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(failure.kind(), "EFCreateError");
  EXPECT_EQ(failure.message(), CreateMessage(out_, ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(out_), "OLD\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

// A directory where this user may not make files, holding a file that the
// user may write: the file is written in place, as it cannot be replaced.
// Wine keeps no access rules for directories (their Unix mode stays as it
// is), so there the case skips.
TEST_F(SafeSave, DirectoryThatAllowsNoNewFileGetsItsFileWrittenInPlace) {
  const std::string jobs = dir_.File("jobs");
  ASSERT_TRUE(::CreateDirectoryW(WindowsPath(jobs).c_str(), nullptr));
  const std::string part = jobs + "\\part.nc";
  WriteFile(part, "OLD CONTENT\n");
  const std::wstring user = UserSid();
  SetAccessRules(part, L"D:P(A;;FA;;;" + user + L")");
  SetAccessRules(jobs, L"D:P(A;;0x1200a9;;;" + user + L")");  // read and list only
  const HANDLE probe = ::CreateFileW(WindowsPath(jobs + "\\probe").c_str(), GENERIC_WRITE, 0,
                                     nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    SetAccessRules(jobs, L"D:P(A;OICI;FA;;;" + user + L")");
    GTEST_SKIP() << "this system lets files be made in a directory whose rules allow none";
  }
  const FileIdentity before = IdentityAt(part);

  Save(part);

  SetAccessRules(jobs, L"D:P(A;OICI;FA;;;" + user + L")");
  EXPECT_EQ(ReadFile(part), "NEW\r\n");
  EXPECT_EQ(IdentityAt(part), before);
  EXPECT_EQ(DirectoryEntries(jobs), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, FileThatWasLoadedIsReplacedByItsRewrite) {
  WriteFile(out_, "OLD CONTENT\n");
  LineList list;
  LoadTextFile(list, out_);
  SaveTextFile(list, out_, SaveTarget::kTheLoadedFile);
  EXPECT_EQ(ReadFile(out_), "OLD CONTENT\r\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

// An editor saving a new version renames its file over the program after
// it was loaded: that file stays, and nothing that was made from the old
// one is written.
TEST_F(SafeSave, OutputSwappedForAnotherFileSinceTheLoadIsNotWritten) {
  WriteFile(out_, "LOADED\n");
  LineList list;
  LoadTextFile(list, out_);
  const std::string other = dir_.File("other.nc");
  WriteFile(other, "OTHER\n");
  ASSERT_TRUE(::MoveFileExW(WindowsPath(other).c_str(), WindowsPath(out_).c_str(),
                            MOVEFILE_REPLACE_EXISTING));

  const Failure failure = FailureOf([&] { SaveTextFile(list, out_, SaveTarget::kTheLoadedFile); });

  EXPECT_EQ(failure.kind(), "EReadError");
  EXPECT_EQ(failure.message(), "Stream-Lesefehler");
  EXPECT_EQ(ReadFile(out_), "OTHER\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

// The directory of the output renamed away just after the output was
// opened, and another put in its place: the place is that of the name as
// given, whose file is no longer the opened one, so the save answers as it
// does when that happens later, and never writes where the file went.
TEST_F(SafeSave, DirectoryRenamedAfterTheOpenGivesThePlaceOfTheNameAsGiven) {
  const std::string jobs = dir_.File("jobs");
  const std::string part = jobs + "\\part.nc";
  ASSERT_TRUE(::CreateDirectoryW(WindowsPath(jobs).c_str(), nullptr));
  WriteFile(part, "OLD\n");
  bool created = false;
  FileHandle existing;
  ASSERT_EQ(OpenOutput(part, existing, created), 0);
  if (!::MoveFileExW(WindowsPath(jobs).c_str(), WindowsPath(dir_.File("moved")).c_str(), 0)) {
    GTEST_SKIP() << "this system renames no directory that holds an open file ("
                 << ::GetLastError() << ")";
  }
  ASSERT_TRUE(::CreateDirectoryW(WindowsPath(jobs).c_str(), nullptr));
  WriteFile(part, "OTHER\n");

  FilePlace place;
  ASSERT_EQ(LocateOpenFile(part, existing, place), 0);
  EXPECT_EQ(place.name, "part.nc");
  EXPECT_EQ(CheckStillThere(place, existing), ERROR_FILE_EXISTS);
  existing.Close();
  EXPECT_EQ(ReadFile(part), "OTHER\n");
  EXPECT_EQ(ReadFile(dir_.File("moved") + "\\part.nc"), "OLD\n");
}

// Another program makes the file (a .tap, say) while the save writes a new
// one: the file that appeared is kept. It may come before the save's last
// check, or between that check and the rename.
TEST_F(SafeSave, FileThatAppearsAtTheNameDuringTheSaveIsKept) {
  LineList list = LineList::FromLines(SystemCodePage(), {u"NEW"});
  {
    OutputFile file(out_, list.stored_bytes(), false);
    file.Write("NEW\r\n", 5);
    file.Seal();
    WriteFile(out_, "APPEARED\n");
    const Failure failure = FailureOf([&] { file.PutInPlace(); });
    EXPECT_EQ(failure.kind(), "EFCreateError");
    EXPECT_EQ(failure.message(), CreateMessage(out_, ERROR_FILE_EXISTS));
  }
  EXPECT_EQ(ReadFile(out_), "APPEARED\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});

  const std::string tap = dir_.File("part.tap");
  FilePlace place;
  ASSERT_EQ(PlaceOfNewFile(tap, place), 0);
  std::string temp_name;
  FileHandle temp;
  ASSERT_EQ(CreateTempFile(place, FileHandle(), temp_name, temp), 0);
  ASSERT_EQ(temp.Close(), 0);
  ASSERT_EQ(CheckStillThere(place, FileHandle()), 0);
  WriteFile(tap, "APPEARED\n");
  FileHandle none;
  EXPECT_EQ(MoveIntoPlace(place, temp_name, none), ERROR_ALREADY_EXISTS);
  RemoveFileAt(place, temp_name);
  EXPECT_EQ(ReadFile(tap), "APPEARED\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"part.nc", "part.tap"}));
}

FILETIME CreationTimeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(::GetFileAttributesExW(WindowsPath(path).c_str(), GetFileExInfoStandard, &data));
  return data.ftCreationTime;
}

/// Sets the creation time of `path`; false where the file system keeps none
/// of its own (Wine on most Linux file systems).
bool SetCreationTime(const std::string& path, const FILETIME& time) {
  const FileHandle file =
      OpenAsAnotherProgram(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!::SetFileTime(reinterpret_cast<HANDLE>(file.get()), &time, nullptr, nullptr)) return false;
  const FILETIME kept = CreationTimeOf(path);
  return kept.dwLowDateTime == time.dwLowDateTime && kept.dwHighDateTime == time.dwHighDateTime;
}

TEST_F(SafeSave, ReplacedFileKeepsItsAttributesAndCreationTime) {
  WriteFile(out_, "OLD\n");
  ASSERT_TRUE(::SetFileAttributesW(WindowsPath(out_).c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  const FILETIME year_2001 = {0xD53E8000, 0x01C07385};
  const bool keeps_creation_time = SetCreationTime(out_, year_2001);
  Save(out_);
  const DWORD attributes = ::GetFileAttributesW(WindowsPath(out_).c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << attributes;
  EXPECT_NE(attributes & FILE_ATTRIBUTE_ARCHIVE, 0u) << attributes;
  EXPECT_EQ(ReadFile(out_), "NEW\r\n");
  if (keeps_creation_time) {
    EXPECT_EQ(CreationTimeOf(out_).dwHighDateTime, year_2001.dwHighDateTime);
    EXPECT_EQ(CreationTimeOf(out_).dwLowDateTime, year_2001.dwLowDateTime);
  }
  // A file made by the save has the attributes of any new file.
  const std::string fresh = dir_.File("fresh.nc");
  Save(fresh);
  EXPECT_EQ(::GetFileAttributesW(WindowsPath(fresh).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// Who may read and write the program does not change by its save: the
// replaced file has the old one's owner and access rules, whether they are
// those of its directory or stricter; a new file gets those of any new file
// in its directory.
TEST_F(SafeSave, ReplacedFileKeepsWhoMayUseIt) {
  const std::wstring user = UserSid();
  struct Case {
    const char* name;
    const wchar_t* rules;  // nullptr: as the directory gives them
  };
  const Case cases[] = {
      {"as its directory gives them", nullptr},
      {"the user alone", L"D:P(A;;FA;;;%)"},
      {"everyone reads", L"D:P(A;;FA;;;%)(A;;FR;;;WD)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(out_, "OLD\n");
    if (c.rules != nullptr) {
      std::wstring rules = c.rules;
      rules.replace(rules.find(L'%'), 1, user);
      SetAccessRules(out_, rules);
    }
    const std::string before = SecurityTextOf(out_);
    Save(out_);
    EXPECT_EQ(SecurityTextOf(out_), before);
    EXPECT_EQ(ReadFile(out_), "NEW\r\n");
    std::filesystem::remove(testing::PathOf(out_));
  }
  WriteFile(dir_.File("made.nc"), "MADE\n");
  Save(out_);
  EXPECT_EQ(SecurityTextOf(out_), SecurityTextOf(dir_.File("made.nc")));
}

// While it is written, the new content is the user's alone; it gets the
// output's rules once it is complete.
TEST_F(SafeSave, TempFileIsTheUsersAloneUntilItIsComplete) {
  WriteFile(out_, "OLD\n");
  SetAccessRules(out_, L"D:P(A;;FA;;;" + UserSid() + L")(A;;FR;;;WD)");
  bool created = false;
  FileHandle existing;
  ASSERT_EQ(OpenOutput(out_, existing, created), 0);
  FilePlace place;
  ASSERT_EQ(LocateOpenFile(out_, existing, place), 0);
  std::string temp_name;
  FileHandle temp;
  ASSERT_EQ(CreateTempFile(place, existing, temp_name, temp), 0);
  EXPECT_TRUE(EveryoneMayRead(Raw(existing)));
  EXPECT_FALSE(EveryoneMayRead(Raw(temp)));
  ASSERT_EQ(MatchPermissions(temp, existing), 0);
  EXPECT_TRUE(EveryoneMayRead(Raw(temp)));
  EXPECT_EQ(SecurityText(Raw(temp)), SecurityText(Raw(existing)));
  temp.Close();
  RemoveFileAt(place, temp_name);
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, FileWithSeveralHardLinksIsWrittenInPlace) {
  WriteFile(out_, "OLD CONTENT\n");
  const std::string other = dir_.File("other.nc");
  ASSERT_TRUE(::CreateHardLinkW(WindowsPath(other).c_str(), WindowsPath(out_).c_str(), nullptr));
  const FileIdentity before = IdentityAt(out_);

  Save(out_);

  EXPECT_EQ(ReadFile(other), "NEW\r\n");
  EXPECT_EQ(IdentityAt(out_), before);
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"other.nc", "part.nc"}));
}

TEST_F(SafeSave, DeviceIsWrittenAndNotReplaced) {
  Save("NUL");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{});
}

// Before a file is written over, the room for its new content is made sure
// of; a size that no disk has fails, and neither changes the file.
TEST_F(SafeSave, RoomIsReservedWithoutChangingTheFile) {
  WriteFile(out_, "OLD\n");
  struct Case {
    std::uint64_t size;
    bool fits;
  };
  for (const Case c : {Case{1 << 20, true}, Case{std::uint64_t{1} << 62, false}}) {
    SCOPED_TRACE(c.size);
    {
      bool created = false;
      FileHandle file;
      ASSERT_EQ(OpenOutput(out_, file, created), 0);
      const int error = ReserveRoom(file, c.size);
      EXPECT_EQ(error == 0, c.fits) << error;
      if (!c.fits) {
        EXPECT_EQ(error, ERROR_DISK_FULL);
      }
      EXPECT_EQ(QueryFile(file).size, 4u);
    }
    EXPECT_EQ(ReadFile(out_), "OLD\n");
  }
}

/// A temporary file beside `target` that holds `content`, written and
/// closed as a save leaves it before the replace.
std::string SealedTempFile(const FilePlace& place, std::string_view content) {
  std::string temp_name;
  FileHandle temp;
  EXPECT_EQ(CreateTempFile(place, FileHandle(), temp_name, temp), 0);
  WriteToFile(temp, content.data(), content.size());
  EXPECT_EQ(FlushToDisk(temp), 0);
  EXPECT_EQ(temp.Close(), 0);
  return temp_name;
}

/// The place of the existing `path`, opened as the save opens it.
FilePlace PlaceOf(const std::string& path, FileHandle& existing) {
  bool created = false;
  EXPECT_EQ(OpenOutput(path, existing, created), 0);
  FilePlace place;
  EXPECT_EQ(LocateOpenFile(path, existing, place), 0);
  return place;
}

TEST_F(SafeSave, ReplaceWaitsForAProgramThatLetsGoSoon) {
  WriteFile(out_, "OLD\n");
  FileHandle existing;
  const FilePlace place = PlaceOf(out_, existing);
  const std::string temp = SealedTempFile(place, "NEW\r\n");
  // A scanner that reads the output and does not share deleting it, right
  // after the save lets go of it.
  FileHandle scanner;
  std::thread release;
  {
    const FileIdentity identity = IdentityOf(existing);
    existing.Close();
    scanner = OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    existing = OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_EQ(IdentityOf(existing), identity);
    release = std::thread([&scanner] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      scanner.Close();
    });
  }
  const int error = MoveIntoPlace(place, temp, existing);
  release.join();
  EXPECT_EQ(error, 0);
  EXPECT_FALSE(existing.is_open());
  EXPECT_EQ(ReadFile(out_), "NEW\r\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, ReplaceGivesUpOnAProgramThatHoldsOnAndChangesNothing) {
  WriteFile(out_, "OLD\n");
  FileHandle existing;
  const FilePlace place = PlaceOf(out_, existing);
  const std::string temp = SealedTempFile(place, "NEW\r\n");
  existing.Close();
  const FileHandle holder =
      OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  existing = OpenAsAnotherProgram(out_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(MoveIntoPlace(place, temp, existing), 0);
  // Tried again for about a second, not for ever.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(ReadFile(out_), "OLD\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{temp, "part.nc"}));
  RemoveFileAt(place, temp);
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

// Once the save lets go of the output, another program may put a file at
// its name before the rename: that file is not replaced.
TEST_F(SafeSave, ReplaceLeavesAFileThatTookTheNameAlone) {
  WriteFile(out_, "OLD\n");
  FileHandle existing;
  const FilePlace place = PlaceOf(out_, existing);
  const std::string temp = SealedTempFile(place, "NEW\r\n");
  // The old file is renamed away while open, and another takes its name.
  existing.Close();
  existing = OpenAsAnotherProgram(out_, GENERIC_READ, 7);
  ASSERT_TRUE(::MoveFileExW(WindowsPath(out_).c_str(), WindowsPath(dir_.File("old.nc")).c_str(), 0));
  const std::string other = dir_.File("other.nc");
  WriteFile(other, "OTHER\n");
  ASSERT_TRUE(::MoveFileExW(WindowsPath(other).c_str(), WindowsPath(out_).c_str(), 0));
  EXPECT_EQ(MoveIntoPlace(place, temp, existing), ERROR_FILE_EXISTS);
  RemoveFileAt(place, temp);
  EXPECT_EQ(ReadFile(out_), "OTHER\n");
  EXPECT_EQ(ReadFile(dir_.File("old.nc")), "OLD\n");
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"old.nc", "part.nc"}));
}

/// A directory below `dir` whose path is longer than MAX_PATH, made with
/// the extended form; what is in it goes with `dir`.
std::string LongDirectory(const TempDir& dir) {
  std::string path = dir.path().string();
  for (char level = 'a'; path.size() <= MAX_PATH + 20; ++level) {
    path += "\\" + std::string(60, level);
    EXPECT_TRUE(::CreateDirectoryW(WindowsPath(path).c_str(), nullptr)) << ::GetLastError();
  }
  return path;
}

/// The names in the directory `path` of any length, sorted.
std::vector<std::string> EntriesOf(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(WindowsPath(path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.emplace_back(name.begin(), name.end());  // ASCII here
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// Every kind of save works the same beyond MAX_PATH, and a refusal names
// the path as users know it, without the prefix.
TEST_F(SafeSave, PathsLongerThanMaxPathAreSavedAsShortOnes) {
  const std::string directory = LongDirectory(dir_);
  const std::string part = directory + "\\part.nc";
  const std::string linked = directory + "\\linked.nc";
  ASSERT_GT(part.size(), std::size_t{MAX_PATH});

  Save(part);  // a new file
  EXPECT_EQ(ReadFile(part), "NEW\r\n");
  WriteFile(part, "OLD\n");
  ASSERT_TRUE(::SetFileAttributesW(WindowsPath(part).c_str(), FILE_ATTRIBUTE_HIDDEN));
  Save(part);  // replaced
  EXPECT_EQ(ReadFile(part), "NEW\r\n");
  EXPECT_NE(::GetFileAttributesW(WindowsPath(part).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  ASSERT_TRUE(::CreateHardLinkW(WindowsPath(linked).c_str(), WindowsPath(part).c_str(), nullptr));
  WriteFile(part, "OLD\n");
  Save(part);  // written in place
  EXPECT_EQ(ReadFile(linked), "NEW\r\n");
  {
    const FileHandle held = OpenAsAnotherProgram(part, GENERIC_READ, 0);
    const Failure failure = FailureOf([&] { Save(part); });
    EXPECT_EQ(failure.kind(), "EFCreateError");
    EXPECT_EQ(failure.message(), CreateMessage(part, ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(EntriesOf(directory), (std::vector<std::string>{"linked.nc", "part.nc"}));
}

TEST(WriteToFile, RequestThatFailsAgainIsAWriteFailure) {
  TempDir dir;
  WriteFile(dir.File("part.nc"), "OLD\n");
  // Every request on a file opened only for reading fails.
  const FileHandle read_only =
      OpenAsAnotherProgram(dir.File("part.nc"), GENERIC_READ, FILE_SHARE_READ);
  const Failure failure = FailureOf([&] { WriteToFile(read_only, "NEW\r\n", 5); });
  EXPECT_EQ(failure.kind(), "EWriteError");
  EXPECT_EQ(failure.message(), "Stream-Schreibfehler");
}

TEST(ReadSmallFile, GivesTheWholeFileAndNothingForWhatIsNoFile) {
  TempDir dir;
  const std::string content = "[common]\r\ntest=1\r\n" + std::string(100000, 'x');
  WriteFile(dir.File("ncrewrite.ini"), content);
  EXPECT_EQ(ReadSmallFile(dir.File("ncrewrite.ini")), content);
  EXPECT_EQ(ReadSmallFile(dir.File("missing.ini")), std::nullopt);
  EXPECT_EQ(ReadSmallFile(dir.path().string()), std::nullopt);
}

}  // namespace
}  // namespace ncrewrite
