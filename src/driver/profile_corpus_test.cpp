// The settings reader of this platform on the corpus of settings files: the
// value and the output mode that Windows' profile reader gives for each.

#include <gtest/gtest.h>

#include "driver/profile_corpus.h"
#include "driver/settings_reader.h"

namespace ncrewrite {
namespace {

TEST(SettingsReader, ReadsEveryCorpusFileAsWindowsDoes) {
  for (const testing::ProfileCorpusCase& c : testing::ProfileCorpus()) {
    const SettingsReader reader(testing::ProfileCorpusPath(c.file));
    EXPECT_EQ(reader.ReadText(u"common", u"test"), c.value) << c.file;
    EXPECT_EQ(reader.ReadNumber(u"common", u"test", 0), c.mode) << c.file;
  }
}

}  // namespace
}  // namespace ncrewrite
