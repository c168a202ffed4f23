#pragma once

#include <string>

#include "textfile/line_list.h"

namespace ncrewrite {

/// Replaces the lines of `lines` by those of the file at `path` and remembers
/// the file's encoding, told by its byte-order mark (UTF-8 EF BB BF, UTF-16LE
/// FF FE, UTF-16BE FE FF, else the system code page). A line ends at CR LF,
/// CR or LF.
///
/// Raises EFOpenError (the list is unchanged), EReadError, or EEncodingError
/// for ill-formed UTF-8 or a lone byte after a UTF-16 mark (the lines are
/// unchanged, the remembered encoding is already the detected one).
void LoadTextFile(LineList& lines, const std::string& path);

/// Writes `lines` to `path` in the remembered encoding (the system code page
/// when there is none), preceded by its byte-order mark and with CR LF after
/// every line. Raises EFCreateError or EWriteError.
void SaveTextFile(const LineList& lines, const std::string& path);

}  // namespace ncrewrite
