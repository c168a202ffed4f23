#include "testing/environment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ncrewrite::testing {
namespace {

constexpr const char* kName = "NCREWRITE_ENVIRONMENT_TEST";

TEST(EnvironmentOverride, SetsAndRemovesAndGivesTheOldValuesBack) {
  ChangeEnvironment(kName, "before");
  {
    EnvironmentOverride override;
    override.Set(kName, "first");
    EXPECT_EQ(EnvironmentValue(kName), "first");
    override.Set(kName, "second");
    EXPECT_EQ(EnvironmentValue(kName), "second");
    override.Remove(kName);
    EXPECT_EQ(EnvironmentValue(kName), std::nullopt);
  }
  EXPECT_EQ(EnvironmentValue(kName), "before");
  {
    EnvironmentOverride override;
    override.Remove(kName);
    override.Remove(kName);  // removing what is not there is no error
  }
  EXPECT_EQ(EnvironmentValue(kName), "before");
  ChangeEnvironment(kName, std::nullopt);
  {
    EnvironmentOverride override;
    override.Set(kName, "only while it lasts");
  }
  EXPECT_EQ(EnvironmentValue(kName), std::nullopt);
}

TEST(EnvironmentOverride, KeepsValuesBeyondAsciiAndEmptyOnes) {
  EnvironmentOverride override;
  override.Set(kName, "C:\\Aufträge\\テスト");
  EXPECT_EQ(EnvironmentValue(kName), "C:\\Aufträge\\テスト");
  override.Set(kName, "");
  EXPECT_EQ(EnvironmentValue(kName), std::optional<std::string>(""));
}

}  // namespace
}  // namespace ncrewrite::testing
