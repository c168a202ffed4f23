// Test support: reads a message box of another program as a user sees it,
// and presses its OK button.
//
//   box_probe [--hold PATH] [--timeout SECONDS] [--wait SECONDS] [--until PATH] CAPTION
//   box_probe --error-text CODE
//
// The first form waits (up to --timeout, 60 s) for a dialog (window class
// "#32770") captioned CAPTION and writes one line of JSON about it to
// standard output: its text (the static control 0xFFFF), its buttons, its
// icon controls and which system icon each shows, the program that owns
// it and whether that program still runs. Then it waits --wait seconds
// (1), so that whoever reads the line can see that the program still waits
// too, and with --until also until the file PATH exists (whoever reads the
// line creates it when done looking). It presses OK (WM_COMMAND with IDOK)
// and writes a second line: whether the box went away, and the owner's
// exit code once it has ended. With --hold it first opens PATH with no
// sharing, as another program that works on the file would, writes "held"
// on a line of its own and keeps the file until it ends. Exit status 0
// when a box was found and OK pressed.
//
// The second form writes the system's text for the error CODE, as
// FormatMessageW gives it, as a JSON string.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kTextControl = 0xFFFF;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

/// `text` as a JSON string literal.
std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : Utf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void WriteLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256];
  const int length = ::GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

/// A bitmap of `width` by `height` in the screen's format, selected into a
/// memory device context of its own, to draw into; all released at the end.
class Canvas {
 public:
  Canvas(int width, int height)
      : width_(width), height_(height), screen_(::GetDC(nullptr)),
        memory_(::CreateCompatibleDC(screen_)),
        bitmap_(::CreateCompatibleBitmap(screen_, width, height)),
        old_(::SelectObject(memory_, bitmap_)) {}
  ~Canvas() {
    if (old_ != nullptr) ::SelectObject(memory_, old_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(memory_);
    ::ReleaseDC(nullptr, screen_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC screen() const { return screen_; }
  HDC dc() const { return memory_; }

  /// What was drawn, top row first, as 0x00RRGGBB. Drawing ends here.
  std::vector<DWORD> Pixels() {
    ::SelectObject(memory_, std::exchange(old_, nullptr));
    std::vector<DWORD> pixels(static_cast<std::size_t>(width_) *
                              static_cast<std::size_t>(height_));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::GetDIBits(memory_, bitmap_, 0, static_cast<UINT>(height_), pixels.data(), &info,
                DIB_RGB_COLORS);
    for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
  }

 private:
  int width_;
  int height_;
  HDC screen_;
  HDC memory_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

/// A copy of the screen's pixels in `rect`, 32 bits each, top row first.
std::vector<DWORD> ScreenPixels(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  Canvas canvas(width, height);
  ::BitBlt(canvas.dc(), 0, 0, width, height, canvas.screen(), rect.left, rect.top, SRCCOPY);
  return canvas.Pixels();
}

/// `icon` drawn as a static control draws it, `width` by `height` on a
/// ground of `ground`, in the screen's colours.
std::vector<DWORD> DrawnIcon(HICON icon, int width, int height, DWORD ground) {
  Canvas canvas(width, height);
  // The pixels come back as 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
  HBRUSH brush = ::CreateSolidBrush(RGB((ground >> 16) & 0xFF, (ground >> 8) & 0xFF, ground & 0xFF));
  const RECT all = {0, 0, width, height};
  ::FillRect(canvas.dc(), &all, brush);
  ::DeleteObject(brush);
  ::DrawIconEx(canvas.dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  return canvas.Pixels();
}

struct IconMatch {
  const wchar_t* name = L"none";
  std::size_t differing = 0;  // pixels that differ from the best match
};

/// Which system icon the icon control `control` shows on the screen: the
/// one whose drawing differs from the control's pixels in the fewest
/// pixels. An icon of another process cannot be read through its handle,
/// so it is compared as the user sees it.
IconMatch MatchIcon(HWND control) {
  RECT rect;
  ::GetWindowRect(control, &rect);
  // One pixel more on each side: the corner is the dialog's ground.
  const RECT around = {rect.left - 1, rect.top - 1, rect.right + 1, rect.bottom + 1};
  const std::vector<DWORD> seen = ScreenPixels(around);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int around_width = width + 2;
  struct Candidate {
    const wchar_t* name;
    LPCWSTR id;
  };
  const Candidate candidates[] = {{L"hand", IDI_HAND},
                                  {L"exclamation", IDI_EXCLAMATION},
                                  {L"asterisk", IDI_ASTERISK},
                                  {L"question", IDI_QUESTION},
                                  {L"application", IDI_APPLICATION}};
  IconMatch best;
  best.differing = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) + 1;
  for (const Candidate& candidate : candidates) {
    const std::vector<DWORD> drawn =
        DrawnIcon(::LoadIconW(nullptr, candidate.id), width, height, seen[0]);
    std::size_t differing = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const DWORD on_screen = seen[static_cast<std::size_t>((y + 1) * around_width + x + 1)];
        if (on_screen != drawn[static_cast<std::size_t>(y * width + x)]) ++differing;
      }
    }
    if (differing < best.differing) best = {candidate.name, differing};
  }
  return best;
}

struct Controls {
  std::vector<HWND> buttons;
  std::vector<HWND> icons;  // visible SS_ICON statics that hold an icon
};

BOOL CALLBACK CollectControl(HWND child, LPARAM context) {
  auto& controls = *reinterpret_cast<Controls*>(context);
  if (!::IsWindowVisible(child)) return TRUE;
  const std::wstring kind = ClassOf(child);
  if (_wcsicmp(kind.c_str(), L"Button") == 0) controls.buttons.push_back(child);
  const auto style = static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE));
  if (_wcsicmp(kind.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
    controls.icons.push_back(child);
  }
  return TRUE;
}

int CountBoxes(const std::wstring& caption) {
  int count = 0;
  for (HWND box = nullptr;
       (box = ::FindWindowExW(nullptr, box, L"#32770", caption.c_str())) != nullptr;) {
    ++count;
  }
  return count;
}

HANDLE OpenOwner(HWND box) {
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(box, &process_id);
  return ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id);
}

std::wstring ImageOf(HANDLE process) {
  wchar_t path[32768];
  DWORD size = 32768;
  if (process == nullptr || !::QueryFullProcessImageNameW(process, 0, path, &size)) return {};
  return std::wstring(path, size);
}

bool StillRuns(HANDLE process) {
  DWORD code = 0;
  return process != nullptr && ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

/// Everything about `box`, as one line of JSON. Waits (up to `patience`
/// milliseconds) until its icon control is painted, if it has one.
std::string Describe(HWND box, HANDLE owner, const std::wstring& caption, DWORD patience) {
  Controls controls;
  ::EnumChildWindows(box, CollectControl, reinterpret_cast<LPARAM>(&controls));
  std::string icons = "[";
  for (const HWND icon : controls.icons) {
    IconMatch match = MatchIcon(icon);
    for (DWORD waited = 0; match.differing != 0 && waited < patience; waited += 100) {
      ::Sleep(100);
      match = MatchIcon(icon);
    }
    if (icons.size() > 1) icons += ",";
    icons += "{\"looks_like\":" + Json(match.name) +
             ",\"differing_pixels\":" + std::to_string(match.differing) + "}";
  }
  icons += "]";
  std::string buttons = "[";
  for (const HWND button : controls.buttons) {
    if (buttons.size() > 1) buttons += ",";
    buttons += "{\"id\":" + std::to_string(::GetDlgCtrlID(button)) +
               ",\"text\":" + Json(WindowText(button)) + "}";
  }
  buttons += "]";
  wchar_t text[16384];
  const UINT length = ::GetDlgItemTextW(box, kTextControl, text, 16384);
  RECT rect;
  ::GetWindowRect(box, &rect);
  return "{\"found\":true,\"boxes\":" + std::to_string(CountBoxes(caption)) +
         ",\"class\":" + Json(ClassOf(box)) + ",\"caption\":" + Json(WindowText(box)) +
         ",\"text\":" + Json(std::wstring(text, length)) + ",\"buttons\":" + buttons +
         ",\"icons\":" + icons + ",\"owner\":" + Json(ImageOf(owner)) +
         ",\"owner_running\":" + (StillRuns(owner) ? "true" : "false") +
         ",\"rect\":[" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
         std::to_string(rect.right) + "," + std::to_string(rect.bottom) + "]}";
}

/// Presses OK, and tells what followed: whether the box went away, and the
/// owner's exit code once it ended (within `patience` milliseconds).
std::string PressOk(HWND box, HANDLE owner, DWORD patience) {
  const bool running_before = StillRuns(owner);
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  const DWORD pressed = ::GetTickCount();
  bool closed = false;
  while (::GetTickCount() - pressed < patience) {
    if (!::IsWindow(box)) {
      closed = true;
      break;
    }
    ::Sleep(20);
  }
  std::string exit = "null";
  if (owner != nullptr && ::WaitForSingleObject(owner, patience) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (::GetExitCodeProcess(owner, &code)) exit = std::to_string(code);
  }
  return std::string("{\"running_before_ok\":") + (running_before ? "true" : "false") +
         ",\"closed\":" + (closed ? "true" : "false") + ",\"owner_exit_code\":" + exit +
         ",\"ended_ms_after_ok\":" + std::to_string(::GetTickCount() - pressed) + "}";
}

int ErrorText(const wchar_t* code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, static_cast<DWORD>(std::wcstoul(code, nullptr, 10)), 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  WriteLine(Json(length == 0 ? std::wstring() : std::wstring(buffer, length)));
  ::LocalFree(buffer);
  return length == 0 ? 1 : 0;
}

int Usage() {
  std::fputs("usage: box_probe [--hold PATH] [--timeout SECONDS] [--wait SECONDS] [--until PATH]\n"
             "                 CAPTION\n"
             "       box_probe --error-text CODE\n",
             stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--error-text") return ErrorText(argv[2]);
  double timeout = 60;
  double wait = 1;
  const wchar_t* until = nullptr;
  HANDLE held = INVALID_HANDLE_VALUE;
  int next = 1;
  for (; next + 1 < argc; next += 2) {
    const std::wstring option = argv[next];
    if (option == L"--timeout") {
      timeout = std::wcstod(argv[next + 1], nullptr);
    } else if (option == L"--wait") {
      wait = std::wcstod(argv[next + 1], nullptr);
    } else if (option == L"--until") {
      until = argv[next + 1];
    } else if (option == L"--hold") {
      held = ::CreateFileW(argv[next + 1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "box_probe: cannot hold the file: error %lu\n", ::GetLastError());
        return 2;
      }
      WriteLine("held");
    } else {
      break;
    }
  }
  if (next + 1 != argc) return Usage();
  const std::wstring caption = argv[next];

  const auto patience = static_cast<DWORD>(timeout * 1000);
  const DWORD started = ::GetTickCount();
  HWND box = nullptr;
  while ((box = ::FindWindowW(L"#32770", caption.c_str())) == nullptr ||
         !::IsWindowVisible(box) || ::GetDlgItem(box, kTextControl) == nullptr) {
    if (::GetTickCount() - started >= patience) {
      WriteLine("{\"found\":false}");
      return 1;
    }
    ::Sleep(50);
  }
  HANDLE owner = OpenOwner(box);
  WriteLine(Describe(box, owner, caption, 5000));
  ::Sleep(static_cast<DWORD>(wait * 1000));
  for (const DWORD waiting = ::GetTickCount();
       until != nullptr && ::GetFileAttributesW(until) == INVALID_FILE_ATTRIBUTES;) {
    if (::GetTickCount() - waiting >= patience) {
      WriteLine("{\"until\":\"never came\"}");
      return 1;
    }
    ::Sleep(20);
  }
  WriteLine(PressOk(box, owner, patience));
  if (owner != nullptr) ::CloseHandle(owner);
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  return 0;
}
