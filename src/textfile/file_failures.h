#pragma once

#include <string>

namespace ncrewrite {

/// Raises EFOpenError for `path` with the system's text for `error`.
[[noreturn]] void RaiseOpenFailure(const std::string& path, int error);

/// Raises EFCreateError for `path` with the system's text for `error`.
[[noreturn]] void RaiseCreateFailure(const std::string& path, int error);

/// Raises EWriteError: a write to the output stopped short.
[[noreturn]] void RaiseWriteFailure();

/// Raises EReadError: fewer bytes arrived than the file's size.
[[noreturn]] void RaiseReadFailure();

/// Raises EEncodingError: the bytes cannot be decoded.
[[noreturn]] void RaiseDecodingFailure();

/// Raises EEncodingError: the platform does not know the code page.
[[noreturn]] void RaiseCodePageFailure();

/// Removes every character up to U+0020 and every full stop from the end of
/// a system message, one after the other.
std::string TrimSystemText(std::string text);

}  // namespace ncrewrite
