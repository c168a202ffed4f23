// The save must never lose the user's file: these tests use the system's own
// faults (a file-size limit, a lock, a directory in the way), the file
// kinds users keep their programs in (links, hard links, pipes), and the
// permission bits and owners that a replaced file keeps.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "testing/failure_of.h"
#include "testing/temp_dir.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

namespace ncrewrite {
namespace {

namespace fs = std::filesystem;
using testing::DirectoryEntries;
using testing::FailureOf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

void Save(const std::string& path, const std::vector<std::u16string>& lines = {u"NEW"}) {
  LineList list = LineList::FromLines(SystemCodePage(), lines);
  SaveTextFile(list, path);
}

/// The status of `path` itself: a link is not followed.
struct stat StatOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::string CreateMessage(const std::string& path, const std::string& reason) {
  return "Datei \"" + path + "\" kann nicht erstellt werden. " + reason;
}

class SafeSave : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string out_ = dir_.File("part.nc");
};

TEST_F(SafeSave, ReplacedFileKeepsItsPermissionBits) {
  for (const mode_t mode : {0600u, 0640u, 0755u, 0604u, 0444u, 02750u}) {
    WriteFile(out_, "OLD\n");
    ASSERT_EQ(::chmod(out_.c_str(), mode), 0);
    // A read-only file is refused to others than root; root may replace it.
    if (mode == 0444 && ::geteuid() != 0) continue;
    Save(out_);
    EXPECT_EQ(StatOf(out_).st_mode & 07777, mode) << std::oct << mode;
    EXPECT_EQ(ReadFile(out_), "NEW\r\n");
  }
}

TEST_F(SafeSave, NewFileGetsTheUsualPermissions) {
  Save(out_);
  EXPECT_EQ(StatOf(out_).st_mode & 07777, 0666 & ~CurrentUmask());
}

TEST_F(SafeSave, ReplacedFileKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  WriteFile(out_, "OLD\n");
  ASSERT_EQ(::chown(out_.c_str(), 65534, 65534), 0);
  Save(out_);
  EXPECT_EQ(StatOf(out_).st_uid, 65534u);
  EXPECT_EQ(StatOf(out_).st_gid, 65534u);
  EXPECT_EQ(ReadFile(out_), "NEW\r\n");
}

TEST_F(SafeSave, SymbolicLinkStaysALinkAndItsTargetGetsTheContent) {
  fs::create_directories(dir_.path() / "jobs");
  fs::create_directories(dir_.path() / "links");
  const std::string target = dir_.File("jobs/part.nc");
  WriteFile(target, "OLD\n");
  fs::create_symlink("../jobs/part.nc", dir_.path() / "links/first");
  fs::create_symlink("first", dir_.path() / "links/second");  // a chain of two

  Save(dir_.File("links/second"));

  EXPECT_EQ(ReadFile(target), "NEW\r\n");
  EXPECT_EQ(fs::read_symlink(dir_.path() / "links/second"), "first");
  EXPECT_EQ(fs::read_symlink(dir_.path() / "links/first"), "../jobs/part.nc");
  EXPECT_EQ(DirectoryEntries(dir_.path() / "jobs"), std::vector<std::string>{"part.nc"});
  EXPECT_EQ(DirectoryEntries(dir_.path() / "links"), (std::vector<std::string>{"first", "second"}));
}

TEST_F(SafeSave, DanglingLinkGetsItsTargetCreated) {
  fs::create_symlink("made.nc", out_);
  Save(out_);
  EXPECT_TRUE(fs::is_symlink(out_));
  EXPECT_EQ(ReadFile(dir_.File("made.nc")), "NEW\r\n");
}

TEST_F(SafeSave, FileWithSeveralHardLinksIsWrittenInPlace) {
  WriteFile(out_, "OLD CONTENT\n");
  const std::string other = dir_.File("other.nc");
  ASSERT_EQ(::link(out_.c_str(), other.c_str()), 0);
  const ino_t inode = StatOf(out_).st_ino;

  Save(out_);

  EXPECT_EQ(ReadFile(other), "NEW\r\n");
  EXPECT_EQ(StatOf(out_).st_ino, inode);
  EXPECT_EQ(StatOf(out_).st_nlink, 2u);
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"other.nc", "part.nc"}));
}

TEST_F(SafeSave, PipeIsWrittenAndNotReplaced) {
  ASSERT_EQ(::mkfifo(out_.c_str(), 0600), 0);
  const int reader = ::open(out_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Save(out_, {u"THROUGH", u"THE PIPE"});
  char received[64] = {};
  EXPECT_EQ(::read(reader, received, sizeof received), 19);
  ::close(reader);
  EXPECT_STREQ(received, "THROUGH\r\nTHE PIPE\r\n");
  EXPECT_TRUE(S_ISFIFO(StatOf(out_).st_mode));
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

TEST_F(SafeSave, OutputThatCannotBeCreatedFailsWithItsOwnPathAndStaysAsItWas) {
  fs::create_directories(dir_.path() / "folder.nc");
  fs::create_symlink("folder.nc", dir_.path() / "link.nc");
  WriteFile(dir_.File("locked.nc"), "LOCKED\n");
  // Another instance saving or loading holds a lock on the file.
  const int held = ::open(dir_.File("locked.nc").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_SH), 0);

  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {dir_.File("folder.nc"), "Is a directory"},
      {dir_.File("link.nc"), "Is a directory"},
      {dir_.File("missing/part.nc"), "No such file or directory"},
      {dir_.File("locked.nc"), "Resource temporarily unavailable"},
  };
  for (const Case& c : cases) {
    const Failure failure = FailureOf([&] { Save(c.path); });
    EXPECT_EQ(failure.kind(), "EFCreateError") << c.path;
    EXPECT_EQ(failure.message(), CreateMessage(c.path, c.reason));
  }
  ::close(held);
  EXPECT_EQ(ReadFile(dir_.File("locked.nc")), "LOCKED\n");
  EXPECT_TRUE(fs::is_directory(dir_.path() / "folder.nc"));
  EXPECT_TRUE(fs::is_empty(dir_.path() / "folder.nc"));
  EXPECT_EQ(DirectoryEntries(dir_.path()), (std::vector<std::string>{"folder.nc", "link.nc", "locked.nc"}));
}

/// Limits the size of the files this process may write, as a full disk
/// would; writes beyond it fail with EFBIG instead of a signal.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    saved_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, saved_handler_);
  }

 private:
  rlimit saved_{};
  sighandler_t saved_handler_;
};

TEST_F(SafeSave, FullDiskFailsWithWriteErrorAndKeepsTheOldContent) {
  const std::string old_content = "OLD\n" + std::string(1000, 'x') + "\n";
  WriteFile(out_, old_content);
  const std::vector<std::u16string> lines(3000, u"M104 M180 LINE THAT FILLS THE DISK");
  Failure failure("none", "", 0);
  {
    const FileSizeLimit limit(64 * 1024);
    failure = FailureOf([&] { Save(out_, lines); });
  }
  EXPECT_EQ(failure.kind(), "EWriteError");
  EXPECT_EQ(failure.message(), "Stream-Schreibfehler");
  EXPECT_EQ(ReadFile(out_), old_content);
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"part.nc"});
}

// Also where a link leads to no file: the file it leads to is made for the
// save, and removed again.
TEST_F(SafeSave, FullDiskBeforeANewFileLeavesNoFile) {
  fs::create_symlink("made.nc", dir_.path() / "link.nc");
  const std::vector<std::u16string> lines(3000, u"M104 M180 LINE THAT FILLS THE DISK");
  for (const std::string& path : {out_, dir_.File("link.nc")}) {
    const FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(FailureOf([&] { Save(path, lines); }).kind(), "EWriteError") << path;
  }
  EXPECT_EQ(DirectoryEntries(dir_.path()), std::vector<std::string>{"link.nc"});
}

}  // namespace
}  // namespace ncrewrite
