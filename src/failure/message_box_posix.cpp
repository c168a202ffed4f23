// Boxes on Linux and other POSIX systems: every box goes to standard error,
// caption line first; with a graphical session it is also shown as a modal
// dialog by the first dialog program found (zenity, kdialog, xmessage),
// started without a shell, and the process waits until it is dismissed.
//
// Nothing here allocates: boxes are also shown when memory has run out.

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "failure/message_box.h"

extern char** environ;

namespace ncrewrite {
namespace {

/// Room for the longest box text and for the kdialog form with its escapes.
constexpr std::size_t kDialogTextRoom = 64 * 1024;
char dialog_text[kDialogTextRoom];
char dialog_caption[256];

void WriteAll(int fd, const char* data, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

/// Copies `text` into `out` (room for `room` bytes and a NUL) with each line
/// break (CR LF, CR or LF) as LF and no line break at the end. With
/// `escape_markup`, the text is written as rich text that shows literally.
std::size_t PlainLines(std::string_view text, char* out, std::size_t room,
                       bool escape_markup) noexcept {
  std::size_t length = 0;
  auto put = [&](std::string_view piece) {
    if (length + piece.size() > room) return false;
    std::memcpy(out + length, piece.data(), piece.size());
    length += piece.size();
    return true;
  };
  if (escape_markup) put("<qt>");
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string_view piece(&text[i], 1);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (i + 1 == text.size()) break;  // no break after the last line
      piece = escape_markup ? "<br>" : "\n";
    } else if (escape_markup && c == '<') {
      piece = "&lt;";
    } else if (escape_markup && c == '>') {
      piece = "&gt;";
    } else if (escape_markup && c == '&') {
      piece = "&amp;";
    }
    if (!put(piece)) break;
  }
  if (escape_markup) put("</qt>");
  out[length] = '\0';
  return length;
}

void WriteToStandardError(const char* data, std::size_t size) noexcept {
  WriteAll(STDERR_FILENO, data, size);
}

bool HasGraphicalSession() noexcept {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

/// Looks `name` up in PATH; writes its full path to `path`.
bool FindProgram(const char* name, char (&path)[PATH_MAX]) noexcept {
  const char* search = std::getenv("PATH");
  if (search == nullptr) return false;
  const std::size_t name_length = std::strlen(name);
  for (;;) {
    const char* end = std::strchr(search, ':');
    const std::size_t dir_length = end == nullptr ? std::strlen(search) : static_cast<std::size_t>(end - search);
    // Only absolute directories: a dialog program is not taken from the
    // current directory.
    if (dir_length > 0 && search[0] == '/' && dir_length + 1 + name_length < PATH_MAX) {
      std::memcpy(path, search, dir_length);
      path[dir_length] = '/';
      std::memcpy(path + dir_length + 1, name, name_length + 1);
      if (::access(path, X_OK) == 0) return true;
    }
    if (end == nullptr) return false;
    search = end + 1;
  }
}

/// Starts `program` with `argv`, standard input from `input` (-1: none),
/// its output discarded, and waits for it. False when it could not start.
bool RunAndWait(const char* program, char* const argv[], int input) noexcept {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (input >= 0) {
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

char* Arg(const char* text) noexcept { return const_cast<char*>(text); }

/// Runs xmessage with the text on its standard input, so that no part of the
/// text can be taken for an option.
bool RunXmessage(const char* program, char* const argv[], std::size_t text_length) noexcept {
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return false;
  // Written before the start, into the pipe's buffer; a text too long for it
  // is cut rather than blocking with no reader.
  ::fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
  WriteAll(pipe_ends[1], dialog_text, text_length);
  ::close(pipe_ends[1]);
  const bool ran = RunAndWait(program, argv, pipe_ends[0]);
  ::close(pipe_ends[0]);
  return ran;
}

/// Shows the box with the first dialog program that starts.
void ShowDialog(std::string_view caption, std::string_view text, BoxIcon icon) noexcept {
  PlainLines(caption, dialog_caption, sizeof dialog_caption - 1, false);
  const bool error = icon == BoxIcon::kError;
  char program[PATH_MAX];

  if (FindProgram("zenity", program)) {
    PlainLines(text, dialog_text, sizeof dialog_text - 1, false);
    char* const argv[] = {Arg("zenity"), Arg(error ? "--error" : "--info"), Arg("--no-markup"),
                          Arg("--title"), dialog_caption, Arg("--text"), dialog_text, nullptr};
    if (RunAndWait(program, argv, -1)) return;
  }
  if (FindProgram("kdialog", program)) {
    // kdialog has no plain-text switch; escaped rich text shows literally.
    PlainLines(text, dialog_text, sizeof dialog_text - 1, true);
    char* const argv[] = {Arg("kdialog"), Arg("--title"), dialog_caption,
                          Arg(error ? "--error" : "--msgbox"), dialog_text, nullptr};
    if (RunAndWait(program, argv, -1)) return;
  }
  if (FindProgram("xmessage", program)) {
    const std::size_t length = PlainLines(text, dialog_text, sizeof dialog_text - 1, false);
    char* const argv[] = {Arg("xmessage"), Arg("-title"), dialog_caption, Arg("-buttons"),
                          Arg("OK"), Arg("-default"), Arg("OK"), Arg("-center"),
                          Arg("-file"), Arg("-"), nullptr};
    RunXmessage(program, argv, length);
  }
}

}  // namespace

// The text's kind makes no difference here: every text goes out as UTF-8.
void PresentBox(std::string_view caption, std::string_view text, BoxIcon icon, BoxText) noexcept {
  WriteBoxLines(caption, text, WriteToStandardError);
  if (!HasGraphicalSession()) return;
  ShowDialog(caption, text, icon);
}

}  // namespace ncrewrite
