// The harness that starts programs for the end-to-end tests: what it
// promises in run_program.h, checked with a child of its own.

#include "testing/run_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "testing/environment.h"

namespace ncrewrite::testing {
namespace {

const std::string kChild = NCREWRITE_TEST_CHILD;

TEST(RunProgram, ArgumentsArriveAsTheyWereGiven) {
  const std::vector<std::string> arguments = {
      "echo", "a b", "C:\\jobs\\", "\\\\server\\share\\", "tab\there", "\xC3\xA4 \xE9\x83\xA8",
      "--x=1",
  };
  const ProgramRun run = RunProgram(kChild, arguments);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "a b|C:\\jobs\\|\\\\server\\share\\|tab\there|\xC3\xA4 \xE9\x83\xA8|--x=1|");
}

TEST(RunProgram, GivesTheStatusTheProgramEndedWith) {
  for (const int status : {0, 1, 3, 203, 217}) {
    EXPECT_EQ(RunProgram(kChild, {"exit", std::to_string(status)}).exit_status, status);
  }
}

TEST(RunProgram, CollectsOutputOfAnySize) {
  constexpr std::size_t kSize = 3 << 20;  // far more than any pipe holds
  const ProgramRun run = RunProgram(kChild, {"flood", std::to_string(kSize)});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, std::string(kSize, 'o'));
  EXPECT_EQ(run.err, std::string(kSize, 'o'));
}

TEST(RunProgram, PassesTheEnvironmentWithoutADisplayAndWithTheExtras) {
  EnvironmentOverride environment;
  environment.Set("DISPLAY", ":99");
  environment.Set("WAYLAND_DISPLAY", "wayland-9");
  environment.Set("NCREWRITE_INHERITED", "kept");
  ProgramOptions options;
  options.environment = {"NCREWRITE_EXTRA=given", "NCREWRITE_INHERITED=replaced"};
  const auto value = [&](const char* name) {
    return RunProgram(kChild, {"env", name}, options).out;
  };
  EXPECT_EQ(value("DISPLAY"), "(none)");
  EXPECT_EQ(value("WAYLAND_DISPLAY"), "(none)");
  EXPECT_EQ(value("NCREWRITE_EXTRA"), "given");
  EXPECT_EQ(value("NCREWRITE_INHERITED"), "replaced");
  EXPECT_NE(value("PATH"), "(none)");
}

TEST(RunProgram, TimeoutStopAndDestructionEndTheProgramAtOnce) {
  const auto started = std::chrono::steady_clock::now();
  ProgramOptions brief;
  brief.timeout_seconds = 0.5;
  EXPECT_EQ(RunProgram(kChild, {"sleep"}, brief).exit_status, -1);
  RunningProgram stopped = StartProgram(kChild, {"sleep"});
  stopped.Stop();
  EXPECT_EQ(stopped.Wait().exit_status, -1);
  { const RunningProgram dropped = StartProgram(kChild, {"sleep"}); }
  // The child would sleep two minutes.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

}  // namespace
}  // namespace ncrewrite::testing
