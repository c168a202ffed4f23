// Boxes on Windows: MessageBoxW for any text, MessageBoxA for the fixed
// ASCII texts of the last-resort boxes, which thus reach the user without
// a conversion. Every box also goes to standard error when the process has
// one: a program of the graphical subsystem has one only when whoever
// started it handed one over, as a CAM system or a logging script does.
//
// Nothing here allocates: boxes are also shown when memory has run out.

#include <windows.h>

#include <algorithm>
#include <span>

#include "failure/message_box.h"
#include "failure/platform_text.h"

namespace ncrewrite {
namespace {

// Room for the longest text that a box of the program shows: the failure
// report has at most 1024 characters, the leak report 8192 bytes. Longer
// texts are cut in the box; standard error gets them whole.
constexpr std::size_t kTextRoom = 8192;
constexpr std::size_t kCaptionRoom = 256;

char16_t wide_text[kTextRoom + 1];
char16_t wide_caption[kCaptionRoom + 1];
char ansi_text[kTextRoom + 1];
char ansi_caption[kCaptionRoom + 1];

HANDLE StandardError() noexcept {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void WriteToStandardError(const char* data, std::size_t size) noexcept {
  const HANDLE handle = StandardError();
  while (size > 0) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
    if (!::WriteFile(handle, data, piece, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

/// `text` in UTF-16 in `room`, NUL-terminated.
LPCWSTR Wide(std::string_view text, std::span<char16_t> room) noexcept {
  const std::size_t length = Utf16FromWtf8(text, room.first(room.size() - 1));
  room[length] = u'\0';
  return reinterpret_cast<LPCWSTR>(room.data());
}

/// `text` as it is in `room`, NUL-terminated.
LPCSTR Ansi(std::string_view text, std::span<char> room) noexcept {
  const std::size_t length = text.copy(room.data(), room.size() - 1);
  room[length] = '\0';
  return room.data();
}

}  // namespace

void PresentBox(std::string_view caption, std::string_view text, BoxIcon icon,
                BoxText text_kind) noexcept {
  if (StandardError() != nullptr) WriteBoxLines(caption, text, WriteToStandardError);
  // With the error icon the box is task-modal: while it waits, every
  // top-level window of the thread is disabled.
  const UINT flags = icon == BoxIcon::kError ? MB_OK | MB_ICONHAND | MB_TASKMODAL : MB_OK;
  // Without a display (a service, or Wine without X) the call returns at
  // once; its result tells nothing the program needs.
  if (text_kind == BoxText::kAscii) {
    ::MessageBoxA(nullptr, Ansi(text, ansi_text), Ansi(caption, ansi_caption), flags);
  } else {
    ::MessageBoxW(nullptr, Wide(text, wide_text), Wide(caption, wide_caption), flags);
  }
}

}  // namespace ncrewrite
