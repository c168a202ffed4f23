#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "failure/platform_text.h"
#include "testing/run_program.h"
#include "testing/run_program_win32.h"
#include "testing/temp_dir.h"

namespace ncrewrite::testing {

struct RunningProgram::Child {
  HANDLE process = nullptr;
  std::unique_ptr<TempDir> capture;  // holds "out" and "err"
  double timeout_seconds = 60;
  bool stopped = false;  // ended by Stop, the timeout or destruction
};

namespace {

// The exit code that TerminateProcess leaves; the status is -1 all the same.
constexpr UINT kStoppedCode = 0xDEAD;

std::wstring Wide(std::string_view text) {
  const std::u16string units = Utf16FromWtf8(text);
  return std::wstring(units.begin(), units.end());
}

/// The command line that ncrewrite's own splitting rule turns back into
/// `program` and `arguments`: each one in double quotes, separated by
/// blanks. The rule has no escape character, so a double quote cannot be
/// passed; and an empty pair of quotes is skipped like a blank, so an empty
/// argument comes out empty only when no other argument follows it.
std::string QuotedCommandLine(const std::string& program,
                              const std::vector<std::string>& arguments) {
  std::string line = '"' + program + '"';
  bool empty_seen = false;
  for (const std::string& argument : arguments) {
    if (argument.find('"') != std::string::npos) {
      throw std::invalid_argument("no command line can pass a double quote: " + argument);
    }
    if (empty_seen && !argument.empty()) {
      throw std::invalid_argument("an empty argument is lost before " + argument);
    }
    empty_seen = empty_seen || argument.empty();
    line += " \"" + argument + '"';
  }
  return line;
}

bool IsRemovedName(std::wstring_view name, const std::vector<std::wstring>& replaced) {
  const auto same = [&](std::wstring_view other) {
    return name.size() == other.size() &&
           std::equal(name.begin(), name.end(), other.begin(), [](wchar_t a, wchar_t b) {
             return std::towupper(a) == std::towupper(b);
           });
  };
  if (same(L"DISPLAY") || same(L"WAYLAND_DISPLAY")) return true;
  return std::any_of(replaced.begin(), replaced.end(), same);
}

/// The name of an entry NAME=VALUE. Entries such as "=C:=C:\dir", which
/// carry a drive's current directory, begin with their '='.
std::wstring_view EntryName(std::wstring_view entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

/// This process's environment without DISPLAY and WAYLAND_DISPLAY, with the
/// `extra` entries in place of those of the same name, sorted by name
/// without regard to case, as Windows keeps it: one block of
/// NUL-terminated entries, with one more NUL at the end. (Under Wine a
/// program takes its X display from the Unix environment of its parent,
/// whatever this block says: tools/wine/run.sh starts the tests without
/// one.)
std::wstring EnvironmentBlock(const std::vector<std::string>& extra) {
  std::vector<std::wstring> entries;
  std::vector<std::wstring> extra_names;
  for (const std::string& entry : extra) {
    entries.push_back(Wide(entry));
    extra_names.emplace_back(EntryName(entries.back()));
  }
  wchar_t* const strings = ::GetEnvironmentStringsW();
  if (strings == nullptr) throw std::runtime_error("cannot read the environment");
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    if (!IsRemovedName(EntryName(entry), extra_names)) entries.emplace_back(entry);
  }
  ::FreeEnvironmentStringsW(strings);
  std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const std::wstring_view x = EntryName(a);
    const std::wstring_view y = EntryName(b);
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                        [](wchar_t p, wchar_t q) {
                                          return std::towupper(p) < std::towupper(q);
                                        });
  });
  std::wstring block;
  for (const std::wstring& entry : entries) {
    block += entry;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

/// A handle that the child inherits; closed here when the object goes.
class InheritedHandle {
 public:
  InheritedHandle(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    handle_ = ::CreateFileW(path.c_str(), access,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a standard handle");
  }
  ~InheritedHandle() { ::CloseHandle(handle_); }
  InheritedHandle(const InheritedHandle&) = delete;
  InheritedHandle& operator=(const InheritedHandle&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

RunningProgram Start(const std::string& program, const std::string& command_line,
                     const ProgramOptions& options) {
  auto capture = std::make_unique<TempDir>();
  std::wstring line = Wide(command_line);
  std::wstring environment = EnvironmentBlock(options.environment);
  const std::wstring directory = Wide(options.directory);

  // Every inheritable handle of this process goes to every child started
  // meanwhile; one start at a time keeps each child to its own three.
  static std::mutex one_start_at_a_time;
  const std::lock_guard<std::mutex> lock(one_start_at_a_time);
  // Files, not pipes: the program never waits for a reader, however much
  // it writes.
  const InheritedHandle input(L"NUL", GENERIC_READ, OPEN_EXISTING);
  const InheritedHandle out(Wide(capture->File("out")), GENERIC_WRITE, CREATE_ALWAYS);
  const InheritedHandle err(Wide(capture->File("err")), GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(Wide(program).c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(),
                        directory.empty() ? nullptr : directory.c_str(), &startup, &started)) {
    throw std::runtime_error("cannot start " + program + " (error " +
                             std::to_string(::GetLastError()) + ")");
  }
  ::CloseHandle(started.hThread);
  auto child = std::make_unique<RunningProgram::Child>();
  child->process = started.hProcess;
  child->capture = std::move(capture);
  child->timeout_seconds = options.timeout_seconds;
  return RunningProgram(std::move(child));
}

void Terminate(RunningProgram::Child& child) {
  // Fails when the program has ended by itself: then its own status counts.
  if (::TerminateProcess(child.process, kStoppedCode)) child.stopped = true;
}

/// Waits until the program has ended, at most `seconds` before it is
/// stopped.
void AwaitEnd(RunningProgram::Child& child, double seconds) {
  const double milliseconds = std::clamp(seconds * 1000, 0.0, 4e9);
  if (::WaitForSingleObject(child.process, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0) {
    return;
  }
  Terminate(child);
  ::WaitForSingleObject(child.process, INFINITE);
}

}  // namespace

RunningProgram::RunningProgram(std::unique_ptr<Child> child) : child_(std::move(child)) {}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept = default;

RunningProgram::~RunningProgram() {
  if (!child_ || child_->process == nullptr) return;
  AwaitEnd(*child_, 0);
  ::CloseHandle(child_->process);
}

void RunningProgram::Stop() {
  if (child_ && child_->process != nullptr) Terminate(*child_);
}

ProgramRun RunningProgram::Wait() {
  AwaitEnd(*child_, child_->timeout_seconds);
  const HANDLE process = std::exchange(child_->process, nullptr);
  DWORD code = 0;
  const bool known = ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  ProgramRun run;
  // An exception that ends a program leaves its code (0xC0000005 and the
  // like, top bit set) as the exit code: a crash, not a status.
  if (known && !child_->stopped && (code & 0x80000000u) == 0) run.exit_status = static_cast<int>(code);
  run.out = ReadFile(child_->capture->File("out"));
  run.err = ReadFile(child_->capture->File("err"));
  return run;
}

RunningProgram StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ProgramOptions& options) {
  return Start(program, QuotedCommandLine(program, arguments), options);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramOptions& options) {
  return StartProgram(program, arguments, options).Wait();
}

RunningProgram StartProgramWithCommandLine(const std::string& program,
                                           const std::string& command_line,
                                           const ProgramOptions& options) {
  return Start(program, command_line, options);
}

ProgramRun RunProgramWithCommandLine(const std::string& program, const std::string& command_line,
                                     const ProgramOptions& options) {
  return StartProgramWithCommandLine(program, command_line, options).Wait();
}

}  // namespace ncrewrite::testing
