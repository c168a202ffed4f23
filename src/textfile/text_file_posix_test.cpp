// Loading a file that only POSIX systems have.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "failure/failure.h"
#include "testing/failure_of.h"
#include "textfile/line_list.h"
#include "textfile/text_file.h"

namespace ncrewrite {
namespace {

using Lines = std::vector<std::u16string>;

// A sysfs file claims 4096 bytes and delivers a few: the same as a file that
// shrinks between taking its size and reading it. Nothing may be processed.
TEST(TextFile, ShortReadIsAReadFailure) {
  const std::string claims_more = "/sys/devices/system/cpu/online";
  struct stat status;
  if (::stat(claims_more.c_str(), &status) != 0 || status.st_size != 4096) {
    GTEST_SKIP() << "no sysfs file that claims more than it holds";
  }
  LineList list = LineList::FromLines(Utf8Encoding(), {u"kept"});
  const Failure failure = testing::FailureOf([&] { LoadTextFile(list, claims_more); });
  EXPECT_EQ(failure.kind(), "EReadError");
  EXPECT_EQ(failure.message(), "Stream-Lesefehler");
  EXPECT_EQ(list.DecodedLines(), Lines{u"kept"});
}

}  // namespace
}  // namespace ncrewrite
