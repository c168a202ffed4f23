// End to end on what only POSIX systems have: pipes, devices, symbolic links
// without a privilege, hard links, and a sysfs file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/e2e_test.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_ino;
}

TEST_F(RewriteRun, NoUsableArgumentDoesNothingForPipesDevicesAndDanglingLinks) {
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  fs::create_symlink(dir_.File("missing"), dir_.File("dangling"));
  ExpectNothingDoneFor({{dir_.File("fifo")}, {dir_.File("dangling")}, {"/dev/null"}});
}

TEST_F(RewriteRun, LinkToAFileIsFollowed) {
  WriteFile(dir_.File("part.nc"), kProgram);
  fs::create_symlink(dir_.File("part.nc"), dir_.File("link.nc"));
  RunSilently(dir_.File("link.nc"));
  EXPECT_EQ(ReadFile(dir_.File("part.nc")), kRewritten);
}

// With test=1 the result goes to the .tap, and the program is only read,
// unless the .tap is a link to it: then the program is the output and gets
// the result, replaced through a symbolic link (which stays), written in
// place through a second hard link.
TEST_F(RewriteRun, TapThatIsALinkToTheProgramGivesItTheResult) {
  WriteSettings("[common]\ntest=1\n");
  const std::string part = dir_.File("part.nc");
  const std::string tap = dir_.File("part.tap");
  for (const bool hard_link : {false, true}) {
    SCOPED_TRACE(hard_link ? "hard link" : "symbolic link");
    WriteFile(part, kProgram);
    if (hard_link) {
      fs::create_hard_link(part, tap);
    } else {
      fs::create_symlink("part.nc", tap);
    }
    const ino_t inode = InodeOf(part);
    RunSilently(part);
    EXPECT_EQ(ReadFile(part), kRewritten);
    EXPECT_EQ(ReadFile(tap), kRewritten);
    EXPECT_EQ(fs::is_symlink(tap), !hard_link);
    EXPECT_EQ(InodeOf(part) == inode, hard_link);
    fs::remove(tap);
    EXPECT_EQ(testing::DirectoryEntries(dir_.path()),
              (std::vector<std::string>{ExecutableName(), "ncrewrite.ini", "part.nc"}));
  }
}

TEST_F(RewriteRun, ShortReadFailsWithoutWriting) {
  const std::string claims_more = "/sys/devices/system/cpu/online";
  struct stat status;
  if (::stat(claims_more.c_str(), &status) != 0 || status.st_size != 4096) {
    GTEST_SKIP() << "no sysfs file that claims more than it holds";
  }
  ExpectFailure(Run({claims_more}), "EReadError", "Stream-Lesefehler");
}

}  // namespace
}  // namespace ncrewrite::e2e
