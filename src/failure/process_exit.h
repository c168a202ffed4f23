#pragma once

namespace ncrewrite {

/// The last step of every run: ends the process with exit status `status`
/// the way the platform's programs end (process_exit_<platform>.cpp). A
/// twin needs no memory and returns to no caller.
[[noreturn]] void ExitWithStatus(int status) noexcept;

}  // namespace ncrewrite
