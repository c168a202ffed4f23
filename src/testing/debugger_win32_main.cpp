// Test support: runs a program under a debugger of ours, so that the
// program finds IsDebuggerPresent true, as it does under a real debugger.
//
//   debugger PROGRAM [ARGUMENTS...]
//
// The program gets this process's standard handles and the arguments as
// they were given. The debugger lets every exception go to the program's
// own handlers (a C++ exception is one), and ends with the program's exit
// code once the program has ended. It then writes one line of JSON to
// standard output: the exit code and how many exceptions it saw. Exit
// status 255 with a message when the program cannot be started.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

/// `argument` quoted so that the C runtime's and CommandLineToArgvW's
/// splitting give it back unchanged.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes double only before a quote.
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

void Inherit(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
}

void CloseFileOfEvent(HANDLE file) {
  if (file != nullptr && file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: debugger PROGRAM [ARGUMENTS...]\n", stderr);
    return 255;
  }
  std::wstring command_line;
  for (int k = 1; k < argc; ++k) {
    if (k > 1) command_line += L' ';
    command_line += Quoted(argv[k]);
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  Inherit(STD_INPUT_HANDLE);
  Inherit(STD_OUTPUT_HANDLE);
  Inherit(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(argv[1], command_line.data(), nullptr, nullptr, TRUE,
                        DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "debugger: cannot start the program: error %lu\n", ::GetLastError());
    return 255;
  }

  DWORD exit_code = 255;
  unsigned exceptions = 0;
  bool first_breakpoint = true;
  for (bool ended = false; !ended;) {
    DEBUG_EVENT event;
    if (!::WaitForDebugEvent(&event, INFINITE)) {
      std::fprintf(stderr, "debugger: WaitForDebugEvent failed: error %lu\n", ::GetLastError());
      return 255;
    }
    DWORD reply = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        CloseFileOfEvent(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        CloseFileOfEvent(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The system stops a debugged program once at a breakpoint before
        // it runs; everything else is the program's own to handle.
        if (first_breakpoint &&
            event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
          first_breakpoint = false;
        } else {
          ++exceptions;
          reply = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        exit_code = event.u.ExitProcess.dwExitCode;
        ended = true;
        break;
      default:
        break;
    }
    ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, reply);
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  std::printf("{\"exit_code\":%lu,\"exceptions\":%u}\n", exit_code, exceptions);
  std::fflush(stdout);
  return static_cast<int>(exit_code);
}
