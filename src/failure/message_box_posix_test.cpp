// The failure box on POSIX systems: a dialog program found on the PATH.

#include "failure/message_box.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testing/environment.h"
#include "testing/temp_dir.h"

namespace ncrewrite {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr std::string_view kCaption = "Anwendungsfehler";
// Markup, quotes and shell syntax, all to be shown as they stand: no shell
// and no markup may come between the program and the dialog.
constexpr std::string_view kText =
    "Exception EFCreateError in Modul ncrewrite bei 0000000000001234.\r\n"
    "Datei \"/a<b>&c/$(touch pwned)\" kann nicht erstellt werden.\r\n";
constexpr std::string_view kShownText =
    "Exception EFCreateError in Modul ncrewrite bei 0000000000001234.\n"
    "Datei \"/a<b>&c/$(touch pwned)\" kann nicht erstellt werden.";

/// Stands in for the dialog programs: each fake records its arguments (NUL
/// after each) and standard input, and takes a while before it "is
/// dismissed", so that returning early shows.
class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshBin(); }

  /// A fresh directory with an empty bin/ as the whole PATH, and no display.
  void FreshBin() {
    dir_.emplace();
    std::filesystem::create_directory(dir_->path() / "bin");
    environment_.Set("PATH", (dir_->path() / "bin").string());
    environment_.Remove("DISPLAY");
    environment_.Remove("WAYLAND_DISPLAY");
  }

  void InstallFake(const std::string& name) {
    const std::string path = (dir_->path() / "bin" / name).string();
    WriteFile(path, "#!/bin/bash\n"
                    "PATH=/usr/bin:/bin\n"
                    "cd \"$(dirname \"$0\")/..\"\n"
                    "printf '%s\\0' \"$(basename \"$0\")\" \"$@\" > args\n"
                    "cat > stdin\n"
                    "sleep 0.3\n"
                    "touch dismissed\n");
    ::chmod(path.c_str(), 0755);
  }

  /// The arguments the fake got, argument 0 first; empty when none ran.
  std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    if (!std::filesystem::exists(dir_->File("args"))) return arguments;
    const std::string all = ReadFile(dir_->File("args"));
    for (std::size_t begin = 0, end; (end = all.find('\0', begin)) != std::string::npos;
         begin = end + 1) {
      arguments.push_back(all.substr(begin, end - begin));
    }
    return arguments;
  }

  /// Presents the box and returns what went to standard error.
  std::string Present(BoxIcon icon) {
    ::testing::internal::CaptureStderr();
    PresentBox(kCaption, kText, icon, BoxText::kUnicode);
    return ::testing::internal::GetCapturedStderr();
  }

  bool Dismissed() { return std::filesystem::exists(dir_->File("dismissed")); }

  testing::EnvironmentOverride environment_;  // given back after the test
  std::optional<TempDir> dir_;
};

TEST_F(MessageBoxTest, WithoutADisplayOnlyStandardErrorAndNoWait) {
  InstallFake("zenity");
  environment_.Set("DISPLAY", "");  // set but empty: no display either
  EXPECT_EQ(Present(BoxIcon::kError), std::string(kCaption) + "\n" + std::string(kShownText) + "\n");
  EXPECT_TRUE(Arguments().empty());
}

TEST_F(MessageBoxTest, WithADisplayTheFirstDialogProgramShowsTheTextLiterallyAndIsWaitedFor) {
  struct Case {
    std::vector<std::string> installed;
    const char* display_variable;
    BoxIcon icon;
    std::vector<std::string> arguments;
    std::string input;
  };
  const std::string caption(kCaption);
  const std::string shown(kShownText);
  const Case cases[] = {
      {{"zenity", "kdialog", "xmessage"}, "DISPLAY", BoxIcon::kError,
       {"zenity", "--error", "--no-markup", "--title", caption, "--text", shown}, ""},
      {{"zenity"}, "WAYLAND_DISPLAY", BoxIcon::kNone,
       {"zenity", "--info", "--no-markup", "--title", caption, "--text", shown}, ""},
      {{"kdialog", "xmessage"}, "DISPLAY", BoxIcon::kError,
       {"kdialog", "--title", caption, "--error",
        "<qt>Exception EFCreateError in Modul ncrewrite bei 0000000000001234.<br>"
        "Datei \"/a&lt;b&gt;&amp;c/$(touch pwned)\" kann nicht erstellt werden.</qt>"},
       ""},
      {{"xmessage"}, "DISPLAY", BoxIcon::kError,
       {"xmessage", "-title", caption, "-buttons", "OK", "-default", "OK", "-center", "-file", "-"},
       shown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    FreshBin();
    for (const std::string& name : c.installed) InstallFake(name);
    environment_.Set(c.display_variable, ":99");

    EXPECT_EQ(Present(c.icon), caption + "\n" + shown + "\n");
    EXPECT_TRUE(Dismissed()) << "returned before the dialog was dismissed";
    EXPECT_EQ(Arguments(), c.arguments);
    EXPECT_EQ(ReadFile(dir_->File("stdin")), c.input);
  }
}

}  // namespace
}  // namespace ncrewrite
