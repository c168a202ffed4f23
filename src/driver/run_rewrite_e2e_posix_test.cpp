// End to end on what only POSIX systems have: pipes, devices, symbolic links
// without a privilege, and a sysfs file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "driver/e2e_test.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

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
