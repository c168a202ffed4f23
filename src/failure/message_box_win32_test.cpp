// The boxes on Windows, as far as a test can see them without a display:
// what goes to standard error, and only when the process has one. Where a
// display is there, a watcher reads the box and dismisses it.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "failure/message_box.h"
#include "failure/platform_text.h"

namespace ncrewrite {
namespace {

/// What a box showed, when one could be shown.
struct SeenBox {
  bool seen = false;
  std::string caption;
  std::string text;
};

/// Presents the box with standard error going into a pipe, and gives what
/// arrived there. A box that the system shows is read and dismissed by a
/// second thread.
std::string Present(std::string_view caption, std::string_view text, BoxText kind,
                    SeenBox& seen, bool with_standard_error = true) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  EXPECT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 1 << 20));
  const HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, with_standard_error ? write_end : nullptr);

  std::atomic<bool> done = false;
  const DWORD thread = GetCurrentThreadId();
  std::thread watcher([&] {
    while (!done) {
      HWND box = nullptr;
      EnumThreadWindows(
          thread,
          [](HWND window, LPARAM found) {
            // A box is shown once its caption and text are in place; the
            // thread may also own hidden windows, and without a display a
            // box is made and taken down unseen.
            if (!IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&box));
      if (box != nullptr) {
        char16_t buffer[4096];
        GetWindowTextW(box, reinterpret_cast<LPWSTR>(buffer), 4096);
        seen.caption = Wtf8FromUtf16(buffer);
        GetDlgItemTextW(box, 0xFFFF, reinterpret_cast<LPWSTR>(buffer), 4096);
        seen.text = Wtf8FromUtf16(buffer);
        seen.seen = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(20);
    }
  });
  PresentBox(caption, text, BoxIcon::kError, kind);
  done = true;
  watcher.join();

  SetStdHandle(STD_ERROR_HANDLE, saved);
  // Everything is written by now. The pipe is read as far as it is filled,
  // not to its end: a process that the box started (Wine's desktop) may
  // have been handed the standard handles and keep the write end open.
  std::string written;
  DWORD available = 0;
  EXPECT_TRUE(PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr));
  written.resize(available);
  DWORD got = 0;
  if (available > 0) {
    EXPECT_TRUE(ReadFile(read_end, written.data(), available, &got, nullptr));
  }
  written.resize(got);
  CloseHandle(write_end);
  CloseHandle(read_end);
  return written;
}

constexpr std::string_view kCaption = "Anwendungsfehler";
constexpr std::string_view kText =
    "Exception EFCreateError in Modul ncrewrite.exe bei 0000000000001234.\r\n"
    "Datei \"C:\\Auftr\xC3\xA4ge\\\xF0\x9F\x98\x80.nc\" kann nicht erstellt werden.\r\n";

TEST(PresentBox, GoesToStandardErrorCaptionFirstInEitherForm) {
  for (const BoxText kind : {BoxText::kUnicode, BoxText::kAscii}) {
    SeenBox seen;
    const std::string_view text = kind == BoxText::kAscii ? "Runtime error 217 at 0000000000001234"
                                                          : kText;
    const std::string written = Present(kind == BoxText::kAscii ? "Error" : kCaption, text, kind, seen);
    if (kind == BoxText::kAscii) {
      EXPECT_EQ(written, "Error\nRuntime error 217 at 0000000000001234\n");
    } else {
      EXPECT_EQ(written,
                "Anwendungsfehler\n"
                "Exception EFCreateError in Modul ncrewrite.exe bei 0000000000001234.\n"
                "Datei \"C:\\Auftr\xC3\xA4ge\\\xF0\x9F\x98\x80.nc\" kann nicht erstellt werden.\n");
    }
    if (seen.seen) {
      EXPECT_EQ(seen.caption, kind == BoxText::kAscii ? "Error" : kCaption);
      EXPECT_EQ(seen.text, text);
    }
  }
}

TEST(PresentBox, WithoutStandardErrorWritesNothing) {
  SeenBox seen;
  EXPECT_EQ(Present(kCaption, kText, BoxText::kUnicode, seen, false), "");
}

}  // namespace
}  // namespace ncrewrite
