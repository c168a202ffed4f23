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

/// Replaces the lines of `lines` by those of `bytes`, a whole loaded file,
/// as LoadTextFile does with the bytes that it loads, with `unmarked` as the
/// encoding of a file without a byte-order mark. For loading by other means
/// than the platform's choice, such as a test of both ways, or in another
/// code page than the system's.
void LoadTextBytes(LineList& lines, FileBytes bytes,
                   const TextEncoding& unmarked = SystemCodePage());

/// Writes `lines` to `path` in the remembered encoding (the system code page
/// when there is none), preceded by its byte-order mark and with CR LF after
/// every line. Raises EFCreateError or EWriteError, and EReadError when the
/// file that the lines were loaded from changed before the output took its
/// place (its content may then be part old and part new).
///
/// A file that is viewed cannot be replaced on every platform, so the list
/// lets go of its view of the loaded file before the output takes its
/// place (LineList::ReleaseFileView): such a list holds no lines after the
/// save. A list whose text is its own is left unchanged.
void SaveTextFile(LineList& lines, const std::string& path);

}  // namespace ncrewrite
